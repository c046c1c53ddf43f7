#include "tools/book_movies.h"

#include <algorithm>
#include <cmath>
#include <map>

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
enum : uint16_t {
  kPictureBitmap = 1,
  kPictureShape,
  kPlateShape,
  kDigitsShape,
  kBackdropShape,
  kPaperShape
};
// Depths in a page movie, bottom up.
enum : uint16_t { kBackdropDepth = 1, kPaperDepth, kPictureDepth, kPlateDepth, kDigitsDepth };
// The page indicator: light figures on a dark plate, readable on light and dark pages alike.
constexpr uint32_t kPlateColour = 0x202020, kFigureColour = 0xF0F0F0;
// The click halves reach this many stage sizes beyond the stage on every side, so that the
// bands beside a letterboxed stage count for their side in any window a screen can have.
constexpr int32_t kBandReach = 16;
// A page turns on the press of a click, whether the pointer was seen over the button first or
// not: a player that has not yet tracked the pointer (the first click after start) still turns.
constexpr uint16_t kPress =
    swf::ButtonCondAction::kOverUpToOverDown | swf::ButtonCondAction::kIdleToOverDown;

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

// Rectangles of one solid colour as one shape; they must not overlap (even-odd fill).
swf::DefineShape Rectangles(uint16_t id, const std::vector<swf::Rect>& rects, uint32_t colour) {
  swf::DefineShape shape;
  shape.id = id;
  shape.bounds = rects.front();
  swf::FillStyle fill;
  fill.color = 0xFF000000u | colour;
  shape.fillStyles = {fill};
  for (const swf::Rect& r : rects) {
    shape.bounds.xMin = std::min(shape.bounds.xMin, r.xMin);
    shape.bounds.xMax = std::max(shape.bounds.xMax, r.xMax);
    shape.bounds.yMin = std::min(shape.bounds.yMin, r.yMin);
    shape.bounds.yMax = std::max(shape.bounds.yMax, r.yMax);
    swf::ShapeRecord move;
    move.hasMoveTo = true;
    move.moveX = r.xMin;
    move.moveY = r.yMin;
    if (shape.records.empty()) move.fillStyle1 = 1;
    shape.records.push_back(move);
    AddEdges(shape.records, r.xMax - r.xMin, 0);
    AddEdges(shape.records, 0, r.yMax - r.yMin);
    AddEdges(shape.records, r.xMin - r.xMax, 0);
    AddEdges(shape.records, 0, r.yMin - r.yMax);
  }
  return shape;
}

// Figures 3 x 5 cells, rows top down; the subset has no fonts.
const char* Glyph(char c) {
  switch (c) {
    case '0':
      return "###"
             "#.#"
             "#.#"
             "#.#"
             "###";
    case '1':
      return ".#."
             "##."
             ".#."
             ".#."
             "###";
    case '2':
      return "###"
             "..#"
             "###"
             "#.."
             "###";
    case '3':
      return "###"
             "..#"
             ".##"
             "..#"
             "###";
    case '4':
      return "#.#"
             "#.#"
             "###"
             "..#"
             "..#";
    case '5':
      return "###"
             "#.."
             "###"
             "..#"
             "###";
    case '6':
      return "###"
             "#.."
             "###"
             "#.#"
             "###";
    case '7':
      return "###"
             "..#"
             "..#"
             "..#"
             "..#";
    case '8':
      return "###"
             "#.#"
             "###"
             "#.#"
             "###";
    case '9':
      return "###"
             "#.#"
             "###"
             "..#"
             "###";
    case '/':
      return "..#"
             "..#"
             ".#."
             "#.."
             "#..";
    default:
      return nullptr;
  }
}

// "N / M" as rectangles of `cell` twips, its bottom right corner at (right, bottom), and the
// plate under it.
std::pair<swf::DefineShape, swf::DefineShape> PageIndicator(const std::string& text, int32_t cell,
                                                            int32_t right, int32_t bottom) {
  int32_t columns = 0;
  for (char c : text) columns += Glyph(c) ? 4 : 2;  // a figure and its gap, or a space
  columns -= 1;
  const int32_t pad = cell * 2;
  const int32_t left = right - pad - columns * cell, top = bottom - pad - 5 * cell;
  std::vector<swf::Rect> figures;
  int32_t x = left;
  for (char c : text) {
    const char* glyph = Glyph(c);
    if (!glyph) {
      x += 2 * cell;
      continue;
    }
    for (int row = 0; row < 5; ++row) {
      for (int col = 0; col < 3;) {
        if (glyph[row * 3 + col] != '#') {
          ++col;
          continue;
        }
        int end = col;
        while (end < 3 && glyph[row * 3 + end] == '#') ++end;
        figures.push_back(
            {x + col * cell, x + end * cell, top + row * cell, top + (row + 1) * cell});
        col = end;
      }
    }
    x += 4 * cell;
  }
  return {Rectangles(kPlateShape, {{left - pad, right, top - pad, bottom}}, kPlateColour),
          Rectangles(kDigitsShape, figures, kFigureColour)};
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

std::string LevelName(int page, int count) {
  return "_level" + std::to_string(PageLevel(page, count));
}

// Jumps to `target` when variable `name` holds `value`.
void IfVariableIs(ActionList& list, const std::string& name, const std::string& value,
                  std::vector<size_t>& jumps) {
  Append(list, {Push({Str(name)}), Simple(swf::kActionGetVariable), Push({Str(value)}),
                Simple(swf::kActionEquals2)});
  jumps.push_back(list.size());
  list.push_back(Branch(swf::kActionIf, 0));
}

// Frame actions that show page `page`: the variable `shown` says which page is on top, and the
// page after it waits loaded in the level below. From the page before, the top is unloaded and
// the page after this one loaded behind; from the page after, this one is loaded over it and
// the one behind that unloaded; from anywhere else (or at start) both are loaded afresh.
ActionList ShowPage(int page, int count) {
  const std::string number = std::to_string(page);
  ActionList list;
  std::vector<size_t> toEnd, toForward, toBackward;
  IfVariableIs(list, "shown", number, toEnd);
  if (page > 1) IfVariableIs(list, "shown", std::to_string(page - 1), toForward);
  if (page < count) IfVariableIs(list, "shown", std::to_string(page + 1), toBackward);

  // A jump: what the levels of the page shown hold goes.
  std::vector<size_t> toFresh, toLoad;
  Append(list, {Push({Str("turned")}), Simple(swf::kActionGetVariable), Push({Str("yes")}),
                Simple(swf::kActionEquals2), Simple(swf::kActionNot)});
  toFresh.push_back(list.size());
  list.push_back(Branch(swf::kActionIf, 0));
  Append(list, {Push({Str(""), Str("shownLevel")}),
                Simple(swf::kActionGetVariable),
                {.code = swf::kActionGetUrl2, .getUrl2Flags = 0x40}});
  IfVariableIs(list, "nextLevel", "none", toLoad);
  Append(list, {Push({Str(""), Str("nextLevel")}),
                Simple(swf::kActionGetVariable),
                {.code = swf::kActionGetUrl2, .getUrl2Flags = 0x40}});
  for (size_t at : toFresh) list[at].branchTarget = list.size();
  for (size_t at : toLoad) list[at].branchTarget = list.size();
  list.push_back(GetUrl(PageMovieName(page), LevelName(page, count)));
  if (page < count) list.push_back(GetUrl(PageMovieName(page + 1), LevelName(page + 1, count)));
  toEnd.push_back(list.size());
  list.push_back(Branch(swf::kActionJump, 0));

  if (!toForward.empty()) {
    for (size_t at : toForward) list[at].branchTarget = list.size();
    list.push_back(GetUrl("", LevelName(page - 1, count)));
    if (page < count) list.push_back(GetUrl(PageMovieName(page + 1), LevelName(page + 1, count)));
    toEnd.push_back(list.size());
    list.push_back(Branch(swf::kActionJump, 0));
  }
  if (!toBackward.empty()) {
    for (size_t at : toBackward) list[at].branchTarget = list.size();
    list.push_back(GetUrl(PageMovieName(page), LevelName(page, count)));
    if (page + 2 <= count) list.push_back(GetUrl("", LevelName(page + 2, count)));
  }

  for (size_t at : toEnd) list[at].branchTarget = list.size();
  Append(list,
         {Push({Str("shown"), Str(number)}), Simple(swf::kActionSetVariable),
          Push({Str("shownLevel"), Str(LevelName(page, count))}), Simple(swf::kActionSetVariable),
          Push({Str("nextLevel"), Str(page < count ? LevelName(page + 1, count) : "none")}),
          Simple(swf::kActionSetVariable), Push({Str("turned"), Str("yes")}),
          Simple(swf::kActionSetVariable), Simple(swf::kActionStop)});
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

std::pair<std::uint32_t, std::uint32_t> MostCommonSize(const std::vector<TPictureSize>& sizes) {
  std::map<std::pair<std::uint32_t, std::uint32_t>, int> counts;
  std::pair<std::uint32_t, std::uint32_t> best{sizes.at(0).width, sizes.at(0).height};
  int bestCount = 0;
  for (const TPictureSize& size : sizes) {
    const std::pair key{size.width, size.height};
    // Strictly more: on a tie the size seen first keeps the stage.
    if (const int n = ++counts[key]; n > bestCount) {
      bestCount = n;
      best = key;
    }
  }
  return best;
}

swf::Matrix UprightMatrix(int orientation, std::uint32_t storedWidth, std::uint32_t storedHeight,
                          double scale, std::int32_t left, std::int32_t top) {
  // Stored pixel (u, v) to upright pixel (x, y) = (a u + c v + tx, b u + d v + ty).
  const double w = storedWidth, h = storedHeight;
  struct {
    double a, b, c, d, tx, ty;
  } t = {1, 0, 0, 1, 0, 0};
  switch (orientation) {
    case 2:
      t = {-1, 0, 0, 1, w, 0};
      break;  // mirrored left to right
    case 3:
      t = {-1, 0, 0, -1, w, h};
      break;  // upside down
    case 4:
      t = {1, 0, 0, -1, 0, h};
      break;  // mirrored top to bottom
    case 5:
      t = {0, 1, 1, 0, 0, 0};
      break;  // mirrored along the main diagonal
    case 6:
      t = {0, 1, -1, 0, h, 0};
      break;  // to be turned a quarter clockwise
    case 7:
      t = {0, -1, -1, 0, h, w};
      break;  // mirrored along the other diagonal
    case 8:
      t = {0, -1, 1, 0, 0, w};
      break;  // to be turned a quarter anticlockwise
    default:
      break;
  }
  const double k = scale * kTwips;
  auto fixed = [](double v) { return int32_t(std::lround(v * 65536)); };
  swf::Matrix m;
  m.hasScale = true;  // even when zero: without it the scale reads as 1
  m.scaleX = fixed(t.a * k);
  m.scaleY = fixed(t.d * k);
  m.hasRotate = t.b != 0 || t.c != 0;
  m.rotateSkew0 = fixed(t.b * k);
  m.rotateSkew1 = fixed(t.c * k);
  m.translateX = left + int32_t(std::lround(t.tx * k));
  m.translateY = top + int32_t(std::lround(t.ty * k));
  return m;
}

int PageLevel(int number, int count) { return count + 1 - number; }

swf::Movie PageMovie(std::vector<std::uint8_t> picture, const TPictureSize& size,
                     const TPageLayout& layout) {
  const int32_t stageWidth = int32_t(layout.stageWidth) * kTwips,
                stageHeight = int32_t(layout.stageHeight) * kTwips;
  swf::Movie movie;
  movie.frameSize = {0, stageWidth, 0, stageHeight};
  movie.fileAttributes = 0;
  movie.backgroundColor = kPageBackground;

  // Fitted inside the stage, aspect kept, centred.
  const double scale =
      std::min(double(layout.stageWidth) / size.width, double(layout.stageHeight) / size.height);
  const int32_t width = std::max<int32_t>(1, int32_t(std::lround(size.width * scale * kTwips)));
  const int32_t height = std::max<int32_t>(1, int32_t(std::lround(size.height * scale * kTwips)));
  const swf::Rect placed{(stageWidth - width) / 2, (stageWidth - width) / 2 + width,
                         (stageHeight - height) / 2, (stageHeight - height) / 2 + height};

  swf::DefineBitsJpeg bitmap;
  bitmap.id = kPictureBitmap;
  bitmap.image = std::move(picture);
  bitmap.kind = size.kind == TPictureKind::kPng   ? swf::ImageKind::kPng
                : size.kind == TPictureKind::kGif ? swf::ImageKind::kGif
                                                  : swf::ImageKind::kJpeg;
  const bool turned = layout.orientation >= 5 && layout.orientation <= 8;
  swf::FillStyle fill;
  fill.type = swf::FillStyle::kClippedBitmap;
  fill.bitmapId = kPictureBitmap;
  fill.matrix = UprightMatrix(layout.orientation, turned ? size.height : size.width,
                              turned ? size.width : size.height, scale, placed.xMin, placed.yMin);

  // The whole stage is covered: the page behind (loaded ahead) must not show beside this one,
  // nor through it. The bands beside a fitted picture look like the navigator's own.
  swf::FillStyle band;
  band.color = 0xFF000000u | kBookBackground;
  swf::Frame frame;
  frame.tags = {Rectangle(kBackdropShape, movie.frameSize, band),
                Place(kBackdropShape, kBackdropDepth)};
  if (size.kind == TPictureKind::kPng) {
    // Paper under a picture that may be transparent.
    swf::FillStyle paper;
    paper.color = 0xFF000000u | kPageBackground;
    frame.tags.insert(frame.tags.end(),
                      {Rectangle(kPaperShape, placed, paper), Place(kPaperShape, kPaperDepth)});
  }
  frame.tags.insert(frame.tags.end(), {std::move(bitmap), Rectangle(kPictureShape, placed, fill),
                                       Place(kPictureShape, kPictureDepth)});
  if (layout.pageNumbers) {
    const int32_t cell =
        kTwips *
        std::max<int32_t>(
            1, int32_t(std::lround(std::min(layout.stageWidth, layout.stageHeight) / 150.0)));
    auto [plate, figures] =
        PageIndicator(std::to_string(layout.number) + " / " + std::to_string(layout.count), cell,
                      placed.xMax - 2 * cell, placed.yMax - 2 * cell);
    frame.tags.insert(frame.tags.end(),
                      {std::move(plate), std::move(figures), Place(kPlateShape, kPlateDepth),
                       Place(kDigitsShape, kDigitsDepth)});
  }
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
      {kPress, next},
      key(swf::kKeyRight, next),
      key(swf::kKeyPageDown, next),
      key(swf::kKeyDown, next),
      key(' ', next),
      key(swf::kKeyLeft, back),
      key(swf::kKeyPageUp, back),
      key(swf::kKeyUp, back),
      key(swf::kKeyBackspace, back),
      key(swf::kKeyHome, {GotoFrame(0)}),
      key(swf::kKeyEnd, {GotoFrame(last)}),
      key('f', FullScreenToggle()),
      key('F', FullScreenToggle()),
  };
  swf::FillStyle hitFill;  // never drawn: the shapes are HitTest areas only
  const int32_t middle = width / 2;
  const int32_t reach = kBandReach * std::max(width, height);

  swf::Frame first;
  first.tags = {
      Rectangle(kLeftHalfShape, {-reach, middle, -reach, height + reach}, hitFill),
      Rectangle(kRightHalfShape, {middle, width + reach, -reach, height + reach}, hitFill),
      HitButton(kBackButton, kLeftHalfShape, {{kPress, back}}),
      HitButton(kForwardButton, kRightHalfShape, std::move(forward)),
      Place(kBackButton, 1),
      Place(kForwardButton, 2)};
  first.actions.push_back(HostProbe());
  movie.frames.push_back(std::move(first));
  movie.frames.resize(size_t(pageCount));
  for (int page = 1; page <= pageCount; ++page) {
    // The page shown is told to the host: a web page keeps it in its address.
    ActionList show = {GetUrl("FSCommand:page", std::to_string(page))};
    const ActionList turn = ShowPage(page, pageCount);
    for (ActionRecord record : turn) {
      if (record.code == swf::kActionIf || record.code == swf::kActionJump)
        record.branchTarget += 1;
      show.push_back(std::move(record));
    }
    movie.frames[size_t(page - 1)].actions.push_back(page == 1 ? StartPage(pageCount, show) : show);
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
