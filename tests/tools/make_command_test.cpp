// pageturn-pack make, run in-process on real folders: the book it writes is read back by the
// bundle reader and its movies by the swf reader; the navigator's actions are played by a
// small interpreter of the few actions it uses, so keys, clicks and the toggle are checked.
#include "tools/make_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../bundle/bundle_fixture.h"
#include "bundle/bundle_names.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"
#include "swf/swf_reader.h"
#include "swf/swf_writer.h"
#include "tools/book_movies.h"
#include "tools/pack_command.h"
#include "tools/page_pictures.h"

namespace pageturn {
namespace {

namespace fs = std::filesystem;
using testing::kImage;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

// Pictures with real headers and arbitrary bytes after them: make reads sizes, never pixels.
std::string Png(std::uint32_t width, std::uint32_t height, const std::string& rest = "pixels") {
  auto be32 = [](std::uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(width) + be32(height) +
         std::string("\x08\x02\0\0\0", 5) + rest;
}

std::string Jpeg(std::uint16_t width, std::uint16_t height, const std::string& rest = "scan") {
  auto be16 = [](std::uint16_t v) { return std::string{char(v >> 8), char(v)}; };
  return std::string("\xFF\xD8", 2) + std::string("\xFF\xE0\0\x10JFIF\0\1\1\0\0\1\0\1\0\0", 18) +
         std::string("\xFF\xDB\0\x04\0\0", 6) +  // a table segment before the frame header
         std::string("\xFF\xC2\0\x11\x08", 5) + be16(height) + be16(width) +
         std::string("\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 10) + rest +
         std::string("\xFF\xD9", 2);
}

struct TResult {
  int code;
  std::string out, err;
};

// Entries of a written book by name, through the bundle's own index.
std::map<std::string, std::string> BookEntries(const std::string& path) {
  const TExeExtReader reader(path);
  std::map<std::string, std::string> entries;
  for (const TBundleIndexLine& line : ParseBundleIndex(reader.ReadEntryText(0)))
    entries[line.name] = reader.ReadEntryText(BundleIndexNumber(line.value));
  return entries;
}

swf::Movie ReadMovieText(const std::string& bytes) {
  return swf::ReadMovie(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

class MakeCommand : public testing::TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    WriteFileBytes(PathOf("player.exe"), kImage);
    WriteFileBytes(PathOf("flash.ocx"), "MZ the runtime");
  }
  TResult Make(std::vector<std::string> args, bool interactive = false) {
    args.insert(args.begin(), "make");
    args.insert(args.end(), {"--player", PathOf("player.exe"), "--runtime", PathOf("flash.ocx")});
    std::ostringstream out, err;
    const int code = RunPackCommand(args, out, err, interactive);
    return {code, out.str(), err.str()};
  }
};

TEST_F(MakeCommand, WritesABookWhoseMoviesHoldThePicturesAsTheyAre) {
  const std::map<std::string, std::string> pictures = {
      {"page10.png", Png(300, 200)}, {"page2.jpg", Jpeg(320, 180)}, {"Page1.PNG", Png(100, 400)}};
  for (const auto& [name, bytes] : pictures) WriteFileBytes(PathOf("pages/" + name), bytes);
  WriteFileBytes(PathOf("pages/.hidden"), "not a page");
  fs::create_directories(PathOf("pages/thumbs"));

  const TResult r = Make({PathOf("pages"), "-o", PathOf("book.exe"), "--caption", "A & <B>",
                          "--mode", "1", "--width", "640", "--height", "480", "--digest"},
                         true);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("reading pictures 3 of 3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("packing 100%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("3 pages on a 320 x 400 stage"), std::string::npos) << r.out;

  EXPECT_EQ(TExeExtReader(PathOf("book.exe")).DigestFlag() != 0, true);
  const auto entries = BookEntries(PathOf("book.exe"));
  std::vector<std::string> names;
  for (const auto& [name, bytes] : entries) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"ExeConfig.xml", "book.swf", "files/large/1.swf",
                                      "files/large/2.swf", "files/large/3.swf", "flash.ocx"}));
  EXPECT_EQ(entries.at("ExeConfig.xml"),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ExeConfig><ExeCaption><![CDATA[A & "
            "<B>]]></ExeCaption><WindowOpenMode>1</WindowOpenMode><WindowOpenWidth>640</"
            "WindowOpenWidth><WindowOpenHeight>480</WindowOpenHeight></ExeConfig>\r\n");
  EXPECT_EQ(entries.at("flash.ocx"), "MZ the runtime");

  // Natural order: Page1, page2, page10.
  const struct {
    const char* file;
    std::uint32_t width, height;
    swf::ImageKind kind;
  } pages[] = {{"Page1.PNG", 100, 400, swf::ImageKind::kPng},
               {"page2.jpg", 320, 180, swf::ImageKind::kJpeg},
               {"page10.png", 300, 200, swf::ImageKind::kPng}};
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    const auto& page = pages[n - 1];
    const swf::Movie movie = ReadMovieText(entries.at(PageMovieName(n)));
    EXPECT_EQ(movie.frameSize,
              (swf::Rect{0, int32_t(page.width) * 20, 0, int32_t(page.height) * 20}));
    EXPECT_EQ(movie.fileAttributes, 0u);
    ASSERT_EQ(movie.frames.size(), 1u);
    const auto& tags = movie.frames[0].tags;
    ASSERT_EQ(tags.size(), 3u);
    const auto& bitmap = std::get<swf::DefineBitsJpeg>(tags[0]);
    const std::string& original = pictures.at(page.file);
    EXPECT_EQ(std::string(bitmap.image.begin(), bitmap.image.end()), original) << "not re-encoded";
    EXPECT_EQ(bitmap.kind, page.kind);
    const auto& shape = std::get<swf::DefineShape>(tags[1]);
    EXPECT_EQ(shape.bounds, movie.frameSize);
    ASSERT_EQ(shape.fillStyles.size(), 1u);
    EXPECT_EQ(shape.fillStyles[0].type, swf::FillStyle::kClippedBitmap);
    EXPECT_EQ(shape.fillStyles[0].bitmapId, bitmap.id);
    EXPECT_EQ(shape.fillStyles[0].matrix.scaleX, 20 << 16);
    EXPECT_EQ(shape.fillStyles[0].matrix.scaleY, 20 << 16);
    const auto& place = std::get<swf::PlaceObject2>(tags[2]);
    EXPECT_EQ(place.characterId, shape.id);
    EXPECT_EQ(place.depth, 1);
    ASSERT_EQ(movie.frames[0].actions.size(), 1u);
    EXPECT_EQ(movie.frames[0].actions[0].at(0).code, swf::kActionStop);
  }
  EXPECT_EQ(ReadMovieText(entries.at("book.swf")).frames.size(), 3u);
}

TEST_F(MakeCommand, CaptionDefaultsToTheFolderAndHoldsAnyText) {
  WriteFileBytes(PathOf("My Book/1.png"), Png(10, 10));
  ASSERT_EQ(Make({PathOf("My Book/"), "-o", PathOf("a.exe")}).code, 0);
  EXPECT_NE(
      BookEntries(PathOf("a.exe"))
          .at("ExeConfig.xml")
          .find("<![CDATA[My Book]]></ExeCaption><WindowOpenMode>2</WindowOpenMode>"
                "<WindowOpenWidth>800</WindowOpenWidth><WindowOpenHeight>600</WindowOpenHeight>"),
      std::string::npos);
  // A caption that would end a CDATA section goes in as escaped text.
  ASSERT_EQ(Make({PathOf("My Book"), "-o", PathOf("b.exe"), "--caption", "x]]>y&"}).code, 0);
  EXPECT_NE(BookEntries(PathOf("b.exe"))
                .at("ExeConfig.xml")
                .find("<ExeCaption>x]]&gt;y&amp;</ExeCaption>"),
            std::string::npos);
}

TEST_F(MakeCommand, BadInputIsNamedAndWritesNothing) {
  WriteFileBytes(PathOf("good/1.png"), Png(10, 10));
  WriteFileBytes(PathOf("text/1.png"), Png(10, 10));
  WriteFileBytes(PathOf("text/2 notes.txt"), "just words");
  WriteFileBytes(PathOf("gif/1.gif"), "GIF89a....");
  WriteFileBytes(PathOf("wide/1.png"), Png(8192, 10));
  WriteFileBytes(PathOf("many/1.jpg"), Jpeg(5000, 4000));
  WriteFileBytes(PathOf("cut/1.jpg"), Jpeg(10, 10).substr(0, 30));
  WriteFileBytes(PathOf("nosize/1.jpg"), Jpeg(10, 0));
  fs::create_directories(PathOf("empty/only-a-folder"));
  WriteFileBytes(PathOf("empty/.DS_Store"), "x");
  WriteFileBytes(PathOf("old.exe"), "the previous book");

  const struct Case {
    const char* name;
    std::vector<std::string> args;
    int code;
    const char* message;
  } cases[] = {
      {"empty folder", {PathOf("empty"), "-o", PathOf("old.exe")}, 1, "No page pictures in"},
      {"no folder", {PathOf("none"), "-o", PathOf("old.exe")}, 1, "Cannot open folder"},
      {"not a picture",
       {PathOf("text"), "-o", PathOf("old.exe")},
       1,
       "\"2 notes.txt\": not a JPEG or PNG picture"},
      {"GIF", {PathOf("gif"), "-o", PathOf("old.exe")}, 1, "\"1.gif\": not a JPEG or PNG"},
      {"too wide",
       {PathOf("wide"), "-o", PathOf("old.exe")},
       1,
       "\"1.png\" is too large for a movie: 8192 x 10 pixels"},
      {"too many pixels",
       {PathOf("many"), "-o", PathOf("old.exe")},
       1,
       "\"1.jpg\" is too large for a movie: 5000 x 4000 pixels"},
      {"cut JPEG", {PathOf("cut"), "-o", PathOf("old.exe")}, 1, "\"1.jpg\": JPEG"},
      {"JPEG without size", {PathOf("nosize"), "-o", PathOf("old.exe")}, 1, "\"1.jpg\": JPEG"},
      {"output inside",
       {PathOf("good"), "-o", PathOf("good/book.exe")},
       1,
       "OUT.exe must not lie inside PAGES_DIR"},
      {"output inside, by another spelling",
       {PathOf("good") + "/.", "-o", PathOf("good/../good/sub/book.exe")},
       1,
       "OUT.exe must not lie inside PAGES_DIR"},
      {"no output", {PathOf("good")}, 2, "needs PAGES_DIR and -o OUT.exe"},
      {"mode not a number",
       {PathOf("good"), "-o", PathOf("old.exe"), "--mode", "two"},
       2,
       "--mode needs a whole number"},
      {"control character in the caption",
       {PathOf("good"), "-o", PathOf("old.exe"), "--caption", "a\nb"},
       2,
       "control character"},
      {"two folders",
       {PathOf("good"), PathOf("text"), "-o", PathOf("old.exe")},
       2,
       "one PAGES_DIR only"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TResult r = Make(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(PathOf("old.exe")), "the previous book");
    EXPECT_FALSE(fs::exists(PathOf("good/book.exe")));
  }
  for (const auto& entry : fs::directory_iterator(folder_))
    EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();

  std::ostringstream out, err;
  EXPECT_EQ(RunPackCommand(
                {"make", PathOf("good"), "-o", PathOf("x.exe"), "--player", PathOf("missing.exe")},
                out, err, false),
            1);
  EXPECT_NE(err.str().find("Cannot open player"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(PathOf("x.exe")));

  // Written over its own player or runtime, the book would destroy what it is made from.
  for (const char* input : {"player.exe", "flash.ocx"}) {
    const TResult r = Make({PathOf("good"), "-o", PathOf(std::string("./") + input)});
    EXPECT_EQ(r.code, 1) << input;
    EXPECT_NE(r.err.find("OUT.exe must not be the player or the runtime"), std::string::npos);
  }
  EXPECT_EQ(ReadFileBytes(PathOf("player.exe")), kImage);
  EXPECT_EQ(ReadFileBytes(PathOf("flash.ocx")), "MZ the runtime");
}

TEST(PagePictures, SizesComeFromTheHeaders) {
  const struct {
    const char* name;
    std::string bytes;
    TPictureKind kind;
    std::uint32_t width, height;
  } good[] = {
      {"PNG", Png(1, 65536), TPictureKind::kPng, 1, 65536},
      {"JPEG, progressive frame after other segments", Jpeg(640, 480), TPictureKind::kJpeg, 640,
       480},
      {"JPEG with fill bytes before a marker",
       std::string("\xFF\xD8\xFF\xFF\xFF\xC0\0\x0B\x08\0\x02\0\x03\x01\x01\x11\0", 17),
       TPictureKind::kJpeg, 3, 2},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(c.name);
    const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    const TPictureSize size = ReadPictureSize({data, c.bytes.size()});
    EXPECT_EQ(size.kind, c.kind);
    EXPECT_EQ(size.width, c.width);
    EXPECT_EQ(size.height, c.height);
  }
  const std::string jpeg = Jpeg(10, 10);
  const struct {
    const char* name;
    std::string bytes;
  } bad[] = {
      {"empty", ""},
      {"PNG signature alone", Png(1, 1).substr(0, 8)},
      {"PNG cut in IHDR", Png(1, 1).substr(0, 20)},
      {"PNG of no pixels", Png(0, 5)},
      {"PNG whose first chunk is not IHDR",
       [] {
         std::string b = Png(4, 4);
         b[12] = 'X';
         return b;
       }()},
      {"JPEG ending before its frame header", jpeg.substr(0, 26)},
      {"JPEG segment longer than the file", jpeg.substr(0, 40)},
      {"JPEG scan before any frame header", std::string("\xFF\xD8\xFF\xDA\0\x02", 6)},
      {"JPEG segment length below 2", std::string("\xFF\xD8\xFF\xE0\0\x01", 6)},
      {"JPEG junk between segments", std::string("\xFF\xD8\xFF\xE0\0\x02zz", 8)},
      {"BMP", "BM...."},
  };
  for (const auto& c : bad) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    EXPECT_THROW(ReadPictureSize({data, c.bytes.size()}), Error) << c.name;
  }
}

TEST(PagePictures, NaturalOrder) {
  const std::vector<std::string> sorted = {
      "1.png",
      "2.png",
      "10.png",
      "page01.png",
      "page1.png",
      "Page2.png",
      "page2.png",
      "page2a.png",
      "page2b.png",
      "page10.png",
      "page010x.png",
      "page011.png",
      "page99999999999999999999.png",
      "page100000000000000000000.png",
      "pagex.png",
  };
  for (size_t i = 0; i < sorted.size(); ++i)
    for (size_t j = 0; j < sorted.size(); ++j)
      EXPECT_EQ(NaturalLess(sorted[i], sorted[j]), i < j) << sorted[i] << " / " << sorted[j];
}

// Plays the actions a navigator is made of, and records what it asks of its host.
class NavigatorPlayer {
 public:
  // `hostAnswers`: whether ExternalInterface calls get an answer (a web page gives none).
  // `variables`: what the host sets before the first frame (FlashVars).
  explicit NavigatorPlayer(const swf::Movie& movie, bool hostAnswers = true,
                           std::map<std::string, std::string> variables = {})
      : movie_(movie), hostAnswers_(hostAnswers), variables_(std::move(variables)) {
    for (const auto& tag : movie.frames.at(0).tags)
      if (const auto* b = std::get_if<swf::DefineButton2>(&tag)) buttons_.push_back(b);
  }
  void Start() { Enter(0); }
  void Key(uint8_t code) {
    for (const auto* b : buttons_)
      for (const auto& cond : b->actions)
        if (cond.KeyCode() == code) Run(cond.actions);
  }
  // A press and release inside the HitTest area that holds the point (stage pixels).
  void Click(int x, int y) {
    for (const auto* b : buttons_) {
      const swf::DefineShape* area = HitArea(*b);
      if (!area || x * 20 < area->bounds.xMin || x * 20 >= area->bounds.xMax ||
          y * 20 < area->bounds.yMin || y * 20 >= area->bounds.yMax)
        continue;
      for (const auto& cond : b->actions)
        if (cond.conditions & swf::ButtonCondAction::kOverDownToOverUp) Run(cond.actions);
    }
  }
  std::vector<std::string> TakeRequests() { return std::exchange(requests_, {}); }
  int frame() const { return frame_; }

 private:
  const swf::DefineShape* HitArea(const swf::DefineButton2& b) const {
    for (const auto& rec : b.records) {
      if (!(rec.states & swf::ButtonRecord::kHitTest)) continue;
      for (const auto& tag : movie_.frames[0].tags)
        if (const auto* s = std::get_if<swf::DefineShape>(&tag); s && s->id == rec.characterId)
          return s;
    }
    return nullptr;
  }
  void Enter(int frame) {
    frame_ = frame;
    for (const auto& list : movie_.frames.at(size_t(frame)).actions) Run(list);
  }
  std::string Pop(std::vector<std::string>& stack) {
    if (stack.empty()) {
      ADD_FAILURE() << "pop from an empty stack";
      return {};
    }
    std::string v = stack.back();
    stack.pop_back();
    return v;
  }
  void Run(const swf::ActionList& list) {
    std::vector<std::string> stack;
    int goTo = -1;
    const int frames = int(movie_.frames.size());
    for (size_t pc = 0, steps = 0; pc < list.size(); ++steps) {
      ASSERT_LT(steps, 1000u) << "the actions loop";
      const swf::ActionRecord& a = list[pc++];
      switch (a.code) {
        case swf::kActionPush:
          for (const auto& v : a.values)
            stack.push_back(v.type == swf::PushValue::kString ? v.string
                                                              : std::to_string(int32_t(v.integer)));
          break;
        case swf::kActionGetVariable: {
          const std::string name = Pop(stack);
          stack.push_back(name == "flash" ? "object flash" : variables_[name]);
          break;
        }
        case swf::kActionSetVariable: {
          const std::string value = Pop(stack);
          variables_[Pop(stack)] = value;
          break;
        }
        case swf::kActionGetMember: {
          const std::string member = Pop(stack);
          stack.push_back(Pop(stack) + "." + member);
          break;
        }
        case swf::kActionCallMethod: {
          const std::string method = Pop(stack), object = Pop(stack);
          const int count = std::stoi(Pop(stack));
          std::string call = object + "." + method + "(";
          for (int i = 0; i < count; ++i) call += (i ? ", " : "") + Pop(stack);
          requests_.push_back(call + ")");
          stack.push_back(hostAnswers_ ? "<string>host answer</string>" : "undefined");
          break;
        }
        case swf::kActionEquals2: {
          const std::string b = Pop(stack), a2 = Pop(stack);
          stack.push_back(a2 == b ? "true" : "false");
          break;
        }
        case swf::kActionNot:
          stack.push_back(Pop(stack) == "true" ? "false" : "true");
          break;
        case swf::kActionIf:
          if (Pop(stack) == "true") pc = a.branchTarget;
          break;
        case swf::kActionJump:
          pc = a.branchTarget;
          break;
        case swf::kActionGetUrl:
          requests_.push_back(a.url + " " + a.target);
          break;
        case swf::kActionNextFrame:
          goTo = frame_ + 1 < frames ? frame_ + 1 : -1;
          break;
        case swf::kActionPrevFrame:
          goTo = frame_ > 0 ? frame_ - 1 : -1;
          break;
        case swf::kActionGotoFrame:
          goTo = a.frame < frames ? a.frame : -1;
          break;
        case swf::kActionStop:
          break;
        default:
          ADD_FAILURE() << "unexpected action " << int(a.code);
          return;
      }
    }
    if (goTo >= 0) Enter(goTo);
  }

  const swf::Movie& movie_;
  const bool hostAnswers_;
  std::vector<const swf::DefineButton2*> buttons_;
  std::map<std::string, std::string> variables_;
  std::vector<std::string> requests_;
  int frame_ = 0;
};

TEST(Navigator, KeysClicksAndTheToggleTurnPagesAndAskTheHost) {
  // Written and read back, as a player gets it.
  const auto file = swf::WriteMovie(NavigatorMovie(5, 600, 800));
  const swf::Movie movie = swf::ReadMovie(file);
  EXPECT_EQ(movie.frameSize, (swf::Rect{0, 12000, 0, 16000}));
  ASSERT_EQ(movie.frames.size(), 5u);
  NavigatorPlayer nav(movie);
  // A page shown is reported to the host, then loaded.
  auto page = [](int n) {
    return std::vector<std::string>{"FSCommand:page " + std::to_string(n),
                                    "files/large/" + std::to_string(n) + ".swf _level1"};
  };
  const std::string probe =
      "object flash.external.ExternalInterface.call({3F6C2D1E-9A4B-4c7d-B2E5-6D8A1F0C3B79})";

  nav.Start();
  std::vector<std::string> start = page(1);
  start.insert(start.begin(), probe);
  EXPECT_EQ(nav.TakeRequests(), start);
  const struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<std::string> requests;
  } steps[] = {
      {"Right", [&] { nav.Key(swf::kKeyRight); }, page(2)},
      {"click on the right half", [&] { nav.Click(450, 10); }, page(3)},
      {"Page Down", [&] { nav.Key(swf::kKeyPageDown); }, page(4)},
      {"End", [&] { nav.Key(swf::kKeyEnd); }, page(5)},
      {"Right on the last page", [&] { nav.Key(swf::kKeyRight); }, {}},
      {"click on the right half of the last page", [&] { nav.Click(599, 799); }, {}},
      {"Left", [&] { nav.Key(swf::kKeyLeft); }, page(4)},
      {"click on the left half", [&] { nav.Click(299, 400); }, page(3)},
      {"Page Up", [&] { nav.Key(swf::kKeyPageUp); }, page(2)},
      {"Home: page 1, and the host is not probed again", [&] { nav.Key(swf::kKeyHome); }, page(1)},
      {"Left on the first page", [&] { nav.Key(swf::kKeyLeft); }, {}},
      {"F", [&] { nav.Key('F'); }, {"FSCommand:fullscreen true"}},
      {"f", [&] { nav.Key('f'); }, {"FSCommand:fullscreen false"}},
      {"f again", [&] { nav.Key('f'); }, {"FSCommand:fullscreen true"}},
      {"a key the navigator ignores", [&] { nav.Key('x'); }, {}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    EXPECT_EQ(nav.TakeRequests(), s.requests);
  }
}

// A web page cannot answer the host probe: the navigator asks the same and turns the same.
TEST(Navigator, BehavesTheSameWhenTheProbeGetsNoAnswer) {
  const swf::Movie movie = swf::ReadMovie(swf::WriteMovie(NavigatorMovie(4, 600, 800)));
  NavigatorPlayer answered(movie, true), unanswered(movie, false);
  const std::function<void(NavigatorPlayer&)> acts[] = {
      [](NavigatorPlayer& nav) { nav.Start(); },
      [](NavigatorPlayer& nav) { nav.Key(swf::kKeyRight); },
      [](NavigatorPlayer& nav) { nav.Click(450, 10); },
      [](NavigatorPlayer& nav) { nav.Key(swf::kKeyLeft); },
      [](NavigatorPlayer& nav) { nav.Key(swf::kKeyEnd); },
      [](NavigatorPlayer& nav) { nav.Key('F'); },
      [](NavigatorPlayer& nav) { nav.Key(swf::kKeyHome); },
  };
  for (size_t i = 0; i < std::size(acts); ++i) {
    SCOPED_TRACE(i);
    acts[i](answered);
    acts[i](unanswered);
    const std::vector<std::string> requests = answered.TakeRequests();
    EXPECT_FALSE(requests.empty());
    EXPECT_EQ(unanswered.TakeRequests(), requests);
    EXPECT_EQ(unanswered.frame(), answered.frame());
  }
}

TEST(Navigator, OpensAtThePageItIsGiven) {
  const swf::Movie movie = swf::ReadMovie(swf::WriteMovie(NavigatorMovie(5, 600, 800)));
  const std::string probe =
      "object flash.external.ExternalInterface.call({3F6C2D1E-9A4B-4c7d-B2E5-6D8A1F0C3B79})";
  auto shows = [&](int n) {
    return std::vector<std::string>{probe, "FSCommand:page " + std::to_string(n),
                                    "files/large/" + std::to_string(n) + ".swf _level1"};
  };
  const struct {
    const char* page;
    int shown;
  } cases[] = {{"4", 4}, {"5", 5}, {"2", 2}, {"1", 1}, {"", 1}, {"6", 1}, {"0", 1}, {"x", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("page=") + c.page);
    NavigatorPlayer nav(movie, false, {{"page", c.page}});
    nav.Start();
    EXPECT_EQ(nav.TakeRequests(), shows(c.shown));
    EXPECT_EQ(nav.frame(), c.shown - 1);
    // The start page is taken once: Home goes to page 1, and the next turns go on from there.
    nav.Key(swf::kKeyHome);
    std::vector<std::string> home = shows(1);
    home.erase(home.begin());  // no second probe
    EXPECT_EQ(nav.TakeRequests(), home);
    nav.Key(swf::kKeyRight);
    EXPECT_EQ(nav.frame(), 1);
  }
}

}  // namespace
}  // namespace pageturn
