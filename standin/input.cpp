#include "input.h"

#include <variant>
#include <vector>

#include "com_support.h"

namespace standin {

namespace {

const ::swf::DefineButton2* ButtonAt(const Player::Level& level, uint16_t depth, uint16_t id) {
  const auto& list = level.timeline->DisplayList();
  auto placed = list.find(depth);
  if (placed == list.end() || placed->second.characterId != id) return nullptr;
  const ::swf::Tag* tag = level.timeline->Character(id);
  return tag ? std::get_if<::swf::DefineButton2>(tag) : nullptr;
}

void RunActions(Player& player, Player::Level& level, const ::swf::ActionList& actions) {
  try {
    level.timeline->RunButtonActions(actions);
  } catch (const std::exception& e) {
    player.SetLastError(level.url + L": " + Utf8ToWide(e.what()));
  }
}

}  // namespace

ButtonHit HitTestButton(Player& player, const swf::Affine& stage, POINT point) {
  const auto& levels = player.Levels();
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    if (!level->second->timeline) continue;
    const auto& list = level->second->timeline->DisplayList();
    for (auto placed = list.rbegin(); placed != list.rend(); ++placed) {
      const ::swf::Tag* tag = level->second->timeline->Character(placed->second.characterId);
      const auto* button = tag ? std::get_if<::swf::DefineButton2>(tag) : nullptr;
      if (!button) continue;
      swf::Affine placement = stage.After(swf::Affine::From(placed->second.matrix));
      for (const auto& record : button->records) {
        if (!(record.states & ::swf::ButtonRecord::kHitTest)) continue;
        const swf::FlatShape* shape = level->second->Shape(record.characterId);
        swf::Affine toShape;
        if (!shape || !placement.After(swf::Affine::From(record.matrix)).Invert(toShape)) continue;
        if (swf::Contains(*shape, toShape.Apply({double(point.x) + 0.5, double(point.y) + 0.5})))
          return {level->first, placed->first, placed->second.characterId};
      }
    }
  }
  return {};
}

bool RunButtonConditions(Player& player, const ButtonHit& hit, uint16_t conditions) {
  Player::Level* level = player.FindLevel(hit.level);
  if (!level || !level->timeline) return false;
  const ::swf::DefineButton2* button = ButtonAt(*level, hit.depth, hit.buttonId);
  if (!button) return false;
  // The levels stay as they are until the actions are over.
  Player::ActionScope scope(player);
  for (const auto& condition : button->actions)
    if (condition.conditions & conditions & 0x1FF) RunActions(player, *level, condition.actions);
  return true;
}

bool PressKey(Player& player, uint8_t key) {
  if (key == 0) return false;
  Player::ActionScope scope(player);
  // Collected first: actions may change the display lists they came from.
  struct Pending {
    int level;
    const ::swf::ActionList* actions;
  };
  std::vector<Pending> pending;
  for (const auto& [number, level] : player.Levels()) {
    if (!level->timeline) continue;
    for (const auto& [depth, placed] : level->timeline->DisplayList()) {
      const ::swf::Tag* tag = level->timeline->Character(placed.characterId);
      const auto* button = tag ? std::get_if<::swf::DefineButton2>(tag) : nullptr;
      if (!button) continue;
      for (const auto& condition : button->actions)
        if (condition.KeyCode() == key) pending.push_back({number, &condition.actions});
    }
  }
  for (const auto& p : pending) {
    // The movies stay (the scope defers level changes), so the actions they own stay too.
    if (Player::Level* level = player.FindLevel(p.level); level && level->timeline)
      RunActions(player, *level, *p.actions);
  }
  return !pending.empty();
}

uint8_t KeyCodeOfVirtualKey(WPARAM key) {
  switch (key) {
    case VK_LEFT:
      return ::swf::kKeyLeft;
    case VK_RIGHT:
      return ::swf::kKeyRight;
    case VK_HOME:
      return ::swf::kKeyHome;
    case VK_END:
      return ::swf::kKeyEnd;
    case VK_INSERT:
      return ::swf::kKeyInsert;
    case VK_DELETE:
      return ::swf::kKeyDelete;
    case VK_BACK:
      return ::swf::kKeyBackspace;
    case VK_RETURN:
      return ::swf::kKeyEnter;
    case VK_UP:
      return ::swf::kKeyUp;
    case VK_DOWN:
      return ::swf::kKeyDown;
    case VK_PRIOR:
      return ::swf::kKeyPageUp;
    case VK_NEXT:
      return ::swf::kKeyPageDown;
    case VK_TAB:
      return ::swf::kKeyTab;
    case VK_ESCAPE:
      return ::swf::kKeyEscape;
    default:
      return 0;
  }
}

uint8_t KeyCodeOfCharacter(WPARAM character) {
  return character >= 32 && character <= 126 ? uint8_t(character) : 0;
}

}  // namespace standin
