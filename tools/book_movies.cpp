#include "tools/book_movies.h"

#include <algorithm>

namespace pageturn {

namespace {

using swf::ActionList;
using swf::ActionRecord;
using swf::PushValue;

constexpr int32_t kTwips = 20;
// A straight edge holds at most 17 signed bits of twips; longer sides take several edges.
constexpr int32_t kLongestEdge = 60000;
constexpr uint32_t kPageBackground = 0xFFFFFF;
constexpr uint32_t kBookBackground = 0x303030;

enum : uint16_t { kLeftHalfShape = 1, kRightHalfShape = 2, kBackButton = 3, kForwardButton = 4 };
enum : uint16_t { kPictureBitmap = 1, kPictureShape = 2 };

void AddEdges(std::vector<swf::ShapeRecord>& records, int32_t dx, int32_t dy) {
  while (dx != 0 || dy != 0) {
    swf::ShapeRecord edge;
    edge.kind = swf::ShapeRecord::kStraightEdge;
    edge.dx = std::clamp(dx, -kLongestEdge, kLongestEdge);
    edge.dy = std::clamp(dy, -kLongestEdge, kLongestEdge);
    dx -= edge.dx;
    dy -= edge.dy;
    records.push_back(edge);
  }
}

// A filled rectangle in twips, with fill style 1.
swf::DefineShape Rectangle(uint16_t id, swf::Rect r, swf::FillStyle fill) {
  swf::DefineShape shape;
  shape.id = id;
  shape.bounds = r;
  shape.fillStyles = {fill};
  swf::ShapeRecord move;
  move.hasMoveTo = true;
  move.moveX = r.xMin;
  move.moveY = r.yMin;
  move.fillStyle1 = 1;
  shape.records.push_back(move);
  AddEdges(shape.records, r.xMax - r.xMin, 0);
  AddEdges(shape.records, 0, r.yMax - r.yMin);
  AddEdges(shape.records, r.xMin - r.xMax, 0);
  AddEdges(shape.records, 0, r.yMin - r.yMax);
  return shape;
}

PushValue Str(std::string s) { return {.type = PushValue::kString, .string = std::move(s)}; }
PushValue Int(int32_t v) { return {.type = PushValue::kInteger, .integer = uint32_t(v)}; }

ActionRecord Push(std::vector<PushValue> values) {
  return {.code = swf::kActionPush, .values = std::move(values)};
}
ActionRecord Simple(uint8_t code) { return {.code = code}; }
ActionRecord GetUrl(std::string url, std::string target) {
  return {.code = swf::kActionGetUrl, .url = std::move(url), .target = std::move(target)};
}
ActionRecord GotoFrame(uint16_t frame) { return {.code = swf::kActionGotoFrame, .frame = frame}; }
ActionRecord Branch(uint8_t code, size_t target) { return {.code = code, .branchTarget = target}; }

void Append(ActionList& list, std::initializer_list<ActionRecord> records) {
  list.insert(list.end(), records.begin(), records.end());
}

// Asks the host once per run: `host` = ExternalInterface.call(probe id), guarded by `probed`.
ActionList HostProbe() {
  ActionList list;
  Append(list, {Push({Str("probed")}), Simple(swf::kActionGetVariable), Push({Str("yes")}),
                Simple(swf::kActionEquals2)});
  const size_t skipAt = list.size();
  list.push_back(Branch(swf::kActionIf, 0));  // over the probe when already done
  Append(list,
         {Push({Str("probed"), Str("yes")}), Simple(swf::kActionSetVariable),
          Push({Str("host"), Str(kHostProbeId), Int(1), Str("flash")}),
          Simple(swf::kActionGetVariable), Push({Str("external")}), Simple(swf::kActionGetMember),
          Push({Str("ExternalInterface")}), Simple(swf::kActionGetMember), Push({Str("call")}),
          Simple(swf::kActionCallMethod), Simple(swf::kActionSetVariable)});
  list[skipAt].branchTarget = list.size();
  return list;
}

// F: full screen on when the variable `fullscreen` is not "on", off when it is.
ActionList FullScreenToggle() {
  ActionList list;
  Append(list, {Push({Str("fullscreen")}), Simple(swf::kActionGetVariable), Push({Str("on")}),
                Simple(swf::kActionEquals2)});
  const size_t toOff = list.size();
  list.push_back(Branch(swf::kActionIf, 0));
  Append(list, {Push({Str("fullscreen"), Str("on")}), Simple(swf::kActionSetVariable),
                GetUrl("FSCommand:fullscreen", "true")});
  const size_t toEnd = list.size();
  list.push_back(Branch(swf::kActionJump, 0));
  list[toOff].branchTarget = list.size();
  Append(list, {Push({Str("fullscreen"), Str("off")}), Simple(swf::kActionSetVariable),
                GetUrl("FSCommand:fullscreen", "false")});
  list[toEnd].branchTarget = list.size();
  return list;
}

// Frame 0's page, opened instead at the page named by the variable `page` (FlashVars in a web
// page) the first time the navigator starts; any other value opens page 1.
ActionList StartPage(int pageCount, const ActionList& firstPage) {
  ActionList list;
  Append(list, {Push({Str("started")}), Simple(swf::kActionGetVariable), Push({Str("yes")}),
                Simple(swf::kActionEquals2)});
  const size_t toFirst = list.size();
  list.push_back(Branch(swf::kActionIf, 0));
  Append(list, {Push({Str("started"), Str("yes")}), Simple(swf::kActionSetVariable)});
  std::vector<size_t> toEnd;
  for (int page = 2; page <= pageCount; ++page) {
    Append(list, {Push({Str("page")}), Simple(swf::kActionGetVariable), Push({Int(page)}),
                  Simple(swf::kActionEquals2), Simple(swf::kActionNot)});
    const size_t toNext = list.size();
    list.push_back(Branch(swf::kActionIf, 0));
    list.push_back(GotoFrame(uint16_t(page - 1)));
    toEnd.push_back(list.size());
    list.push_back(Branch(swf::kActionJump, 0));
    list[toNext].branchTarget = list.size();
  }
  list[toFirst].branchTarget = list.size();
  const size_t offset = list.size();
  for (ActionRecord record : firstPage) {
    if (record.code == swf::kActionIf || record.code == swf::kActionJump)
      record.branchTarget += offset;
    list.push_back(std::move(record));
  }
  for (size_t at : toEnd) list[at].branchTarget = list.size();
  return list;
}

swf::DefineButton2 HitButton(uint16_t id, uint16_t shape,
                             std::vector<swf::ButtonCondAction> actions) {
  swf::DefineButton2 button;
  button.id = id;
  button.records.push_back(
      {.states = swf::ButtonRecord::kHitTest, .characterId = shape, .depth = 1});
  button.actions = std::move(actions);
  return button;
}

swf::PlaceObject2 Place(uint16_t character, uint16_t depth) {
  return {.depth = depth, .characterId = character, .matrix = swf::Matrix{}};
}

}  // namespace

std::string PageMovieName(int number) { return "files/large/" + std::to_string(number) + ".swf"; }

swf::Movie PageMovie(std::vector<std::uint8_t> picture, const TPictureSize& size) {
  const int32_t width = int32_t(size.width) * kTwips, height = int32_t(size.height) * kTwips;
  swf::Movie movie;
  movie.frameSize = {0, width, 0, height};
  movie.fileAttributes = 0;
  movie.backgroundColor = kPageBackground;

  swf::DefineBitsJpeg bitmap;
  bitmap.id = kPictureBitmap;
  bitmap.image = std::move(picture);
  bitmap.kind = size.kind == TPictureKind::kPng ? swf::ImageKind::kPng : swf::ImageKind::kJpeg;
  swf::FillStyle fill;
  fill.type = swf::FillStyle::kClippedBitmap;
  fill.bitmapId = kPictureBitmap;
  fill.matrix.hasScale = true;
  fill.matrix.scaleX = fill.matrix.scaleY = kTwips << 16;  // one picture pixel per stage pixel

  swf::Frame frame;
  frame.tags = {std::move(bitmap), Rectangle(kPictureShape, movie.frameSize, fill),
                Place(kPictureShape, 1)};
  frame.actions = {{Simple(swf::kActionStop)}};
  movie.frames.push_back(std::move(frame));
  return movie;
}

swf::Movie NavigatorMovie(int pageCount, std::uint32_t stageWidth, std::uint32_t stageHeight) {
  const int32_t width = int32_t(stageWidth) * kTwips, height = int32_t(stageHeight) * kTwips;
  swf::Movie movie;
  movie.frameSize = {0, width, 0, height};
  movie.fileAttributes = 0;
  movie.backgroundColor = kBookBackground;

  const uint16_t last = uint16_t(pageCount - 1);
  auto key = [](uint8_t code, ActionList actions) {
    return swf::ButtonCondAction{swf::KeyCondition(code), std::move(actions)};
  };
  const ActionList next = {Simple(swf::kActionNextFrame)}, back = {Simple(swf::kActionPrevFrame)};
  std::vector<swf::ButtonCondAction> forward = {
      {swf::ButtonCondAction::kOverDownToOverUp, next},
      key(swf::kKeyRight, next),
      key(swf::kKeyPageDown, next),
      key(swf::kKeyLeft, back),
      key(swf::kKeyPageUp, back),
      key(swf::kKeyHome, {GotoFrame(0)}),
      key(swf::kKeyEnd, {GotoFrame(last)}),
      key('f', FullScreenToggle()),
      key('F', FullScreenToggle()),
  };
  swf::FillStyle hitFill;  // never drawn: the shapes are HitTest areas only
  const int32_t middle = width / 2;

  swf::Frame first;
  first.tags = {
      Rectangle(kLeftHalfShape, {0, middle, 0, height}, hitFill),
      Rectangle(kRightHalfShape, {middle, width, 0, height}, hitFill),
      HitButton(kBackButton, kLeftHalfShape, {{swf::ButtonCondAction::kOverDownToOverUp, back}}),
      HitButton(kForwardButton, kRightHalfShape, std::move(forward)),
      Place(kBackButton, 1),
      Place(kForwardButton, 2)};
  first.actions.push_back(HostProbe());
  movie.frames.push_back(std::move(first));
  movie.frames.resize(size_t(pageCount));
  for (int page = 0; page < pageCount; ++page) {
    // The page shown is told to the host: a web page keeps it in its address.
    ActionList show = {GetUrl("FSCommand:page", std::to_string(page + 1)),
                       GetUrl(PageMovieName(page + 1), "_level1"), Simple(swf::kActionStop)};
    movie.frames[size_t(page)].actions.push_back(page == 0 ? StartPage(pageCount, show) : show);
  }
  return movie;
}

std::string ExeConfigText(const std::string& caption, int mode, int width, int height) {
  std::string text;
  if (caption.find("]]>") == std::string::npos) {
    text = "<![CDATA[" + caption + "]]>";
  } else {
    for (char c : caption) {
      if (c == '&')
        text += "&amp;";
      else if (c == '<')
        text += "&lt;";
      else if (c == '>')
        text += "&gt;";
      else
        text += c;
    }
  }
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ExeConfig><ExeCaption>" + text +
         "</ExeCaption><WindowOpenMode>" + std::to_string(mode) +
         "</WindowOpenMode><WindowOpenWidth>" + std::to_string(width) +
         "</WindowOpenWidth><WindowOpenHeight>" + std::to_string(height) +
         "</WindowOpenHeight></ExeConfig>\r\n";
}

}  // namespace pageturn
