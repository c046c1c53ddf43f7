// Input of the player: which button lies under a point of the window (its HitTest areas through
// the stage, placement and record matrices), and keys as the SWF key codes that buttons' key
// conditions name.
#pragma once

#include <windows.h>

#include <cstdint>

#include "player.h"
#include "stage/geometry.h"

namespace standin {

struct ButtonHit {
  int level = -1;
  uint16_t depth = 0;
  uint16_t buttonId = 0;
  explicit operator bool() const { return level >= 0; }
  bool operator==(const ButtonHit&) const = default;
};

// The topmost button of any level whose hit area holds `point` (window pixels).
ButtonHit HitTestButton(Player& player, const swf::Affine& stage, POINT point);

// Runs the actions of the button's conditions that `conditions` names (press 0x04, release
// 0x08). False when the button is no longer there.
bool RunButtonConditions(Player& player, const ButtonHit& hit, uint16_t conditions);

// A key press: the actions of every button of every level whose key condition is `key`.
// True when any ran.
bool PressKey(Player& player, uint8_t key);

// WM_KEYDOWN's virtual key, or WM_CHAR's character, as a key code (0: none). Printable
// characters come from WM_CHAR only, the other keys from WM_KEYDOWN only.
uint8_t KeyCodeOfVirtualKey(WPARAM key);
uint8_t KeyCodeOfCharacter(WPARAM character);

}  // namespace standin
