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

template <typename T>
const swf::Tag* FindTag(const swf::Movie& movie, std::uint16_t id = 0) {
  for (const auto& tag : movie.frames.at(0).tags)
    if (const auto* t = std::get_if<T>(&tag); t && (id == 0 || t->id == id)) return &tag;
  return nullptr;
}

// The shapes a page movie places, by depth from the bottom up.
std::vector<const swf::DefineShape*> ShapesByDepth(const swf::Movie& movie) {
  std::map<std::uint16_t, const swf::DefineShape*> placed;
  for (const auto& tag : movie.frames.at(0).tags) {
    const auto* place = std::get_if<swf::PlaceObject2>(&tag);
    if (!place || !place->characterId) continue;
    const swf::Tag* shape = FindTag<swf::DefineShape>(movie, *place->characterId);
    EXPECT_NE(shape, nullptr) << "placed before it is defined, or no shape";
    if (shape) placed[place->depth] = &std::get<swf::DefineShape>(*shape);
  }
  std::vector<const swf::DefineShape*> shapes;
  for (const auto& [depth, shape] : placed) shapes.push_back(shape);
  return shapes;
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
  // Two pages of 300 x 200 make the stage, though another page comes first and one is larger.
  const std::map<std::string, std::string> pictures = {{"page10.png", Png(300, 200)},
                                                       {"page2.jpg", Jpeg(320, 180)},
                                                       {"Page1.PNG", Png(100, 400)},
                                                       {"page11.png", Png(600, 400)},
                                                       {"page3.png", Png(300, 200)}};
  for (const auto& [name, bytes] : pictures) WriteFileBytes(PathOf("pages/" + name), bytes);
  WriteFileBytes(PathOf("pages/.hidden"), "not a page");
  fs::create_directories(PathOf("pages/thumbs"));
  // What Windows and macOS leave in photo folders is passed over without a word.
  for (const char* name :
       {"Thumbs.db", "DESKTOP.INI", "ehthumbs.db", ".DS_Store", "__MACOSX/._page2.jpg"})
    WriteFileBytes(PathOf(std::string("pages/") + name), "platform file");

  const TResult r = Make({PathOf("pages"), "-o", PathOf("book.exe"), "--caption", "A & <B>",
                          "--mode", "1", "--width", "640", "--height", "480", "--digest"},
                         true);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("reading pictures 5 of 5"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("packing 100%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("5 pages on a 300 x 200 stage"), std::string::npos) << r.out;

  EXPECT_EQ(TExeExtReader(PathOf("book.exe")).DigestFlag() != 0, true);
  const auto entries = BookEntries(PathOf("book.exe"));
  std::vector<std::string> names;
  for (const auto& [name, bytes] : entries) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"ExeConfig.xml", "book.swf", "files/large/1.swf",
                                      "files/large/2.swf", "files/large/3.swf", "files/large/4.swf",
                                      "files/large/5.swf", "flash.ocx"}));
  EXPECT_EQ(entries.at("ExeConfig.xml"),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ExeConfig><ExeCaption><![CDATA[A & "
            "<B>]]></ExeCaption><WindowOpenMode>1</WindowOpenMode><WindowOpenWidth>640</"
            "WindowOpenWidth><WindowOpenHeight>480</WindowOpenHeight></ExeConfig>\r\n");
  EXPECT_EQ(entries.at("flash.ocx"), "MZ the runtime");

  // Natural order: Page1, page2, page3, page10, page11. Each picture fitted inside the 300 x 200
  // stage and centred (twips).
  const struct {
    const char* file;
    swf::ImageKind kind;
    swf::Rect placed;
    double scale;
  } pages[] = {{"Page1.PNG", swf::ImageKind::kPng, {2500, 3500, 0, 4000}, 0.5},
               {"page2.jpg", swf::ImageKind::kJpeg, {0, 6000, 312, 3687}, 300.0 / 320},
               {"page3.png", swf::ImageKind::kPng, {0, 6000, 0, 4000}, 1},
               {"page10.png", swf::ImageKind::kPng, {0, 6000, 0, 4000}, 1},
               {"page11.png", swf::ImageKind::kPng, {0, 6000, 0, 4000}, 0.5}};
  for (int n = 1; n <= 5; ++n) {
    SCOPED_TRACE(n);
    const auto& page = pages[n - 1];
    const swf::Movie movie = ReadMovieText(entries.at(PageMovieName(n)));
    EXPECT_EQ(movie.frameSize, (swf::Rect{0, 6000, 0, 4000}));
    EXPECT_EQ(movie.fileAttributes, 0u);
    ASSERT_EQ(movie.frames.size(), 1u);
    // Bottom up: a backdrop over the whole stage (the page loaded behind must not show), paper
    // under a PNG, the picture, the page indicator's plate and figures.
    const std::vector<const swf::DefineShape*> shapes = ShapesByDepth(movie);
    ASSERT_EQ(shapes.size(), page.kind == swf::ImageKind::kPng ? 5u : 4u);
    const swf::DefineShape& backdrop = *shapes[0];
    EXPECT_EQ(backdrop.bounds, movie.frameSize);
    EXPECT_EQ(backdrop.fillStyles.at(0).type, swf::FillStyle::kSolid);
    EXPECT_EQ(backdrop.fillStyles.at(0).color, 0xFF303030u);
    if (page.kind == swf::ImageKind::kPng) EXPECT_EQ(shapes[1]->bounds, page.placed);
    const swf::DefineShape& shape = *shapes[shapes.size() - 3];
    const auto& bitmap = std::get<swf::DefineBitsJpeg>(*FindTag<swf::DefineBitsJpeg>(movie));
    const std::string& original = pictures.at(page.file);
    EXPECT_EQ(std::string(bitmap.image.begin(), bitmap.image.end()), original) << "not re-encoded";
    EXPECT_EQ(bitmap.kind, page.kind);
    EXPECT_EQ(shape.bounds, page.placed);
    ASSERT_EQ(shape.fillStyles.size(), 1u);
    const swf::FillStyle& fill = shape.fillStyles[0];
    EXPECT_EQ(fill.type, swf::FillStyle::kClippedBitmap);
    EXPECT_EQ(fill.bitmapId, bitmap.id);
    EXPECT_NEAR(fill.matrix.scaleX, page.scale * 20 * 65536, 1);
    EXPECT_NEAR(fill.matrix.scaleY, page.scale * 20 * 65536, 1);
    EXPECT_FALSE(fill.matrix.hasRotate);
    EXPECT_EQ(fill.matrix.translateX, page.placed.xMin);
    EXPECT_EQ(fill.matrix.translateY, page.placed.yMin);
    // The indicator lies inside the picture, in its bottom right corner.
    const swf::Rect& plate = shapes[shapes.size() - 2]->bounds;
    EXPECT_GT(plate.xMin, (page.placed.xMin + page.placed.xMax) / 2);
    EXPECT_LT(plate.xMax, page.placed.xMax);
    EXPECT_GT(plate.yMin, (page.placed.yMin + page.placed.yMax) / 2);
    EXPECT_LT(plate.yMax, page.placed.yMax);
    ASSERT_EQ(movie.frames[0].actions.size(), 1u);
    EXPECT_EQ(movie.frames[0].actions[0].at(0).code, swf::kActionStop);
  }
  EXPECT_EQ(ReadMovieText(entries.at("book.swf")).frames.size(), 5u);

  // Without page numbers: the picture alone. On a tie the first page's size is the stage.
  fs::remove(PathOf("pages/page3.png"));
  const TResult plain = Make({PathOf("pages"), "-o", PathOf("plain.exe"), "--no-page-numbers"});
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_NE(plain.out.find("4 pages on a 100 x 400 stage"), std::string::npos) << plain.out;
  EXPECT_EQ(
      ShapesByDepth(ReadMovieText(BookEntries(PathOf("plain.exe")).at(PageMovieName(1)))).size(),
      3u)
      << "backdrop, paper and picture";
}

TEST(PageMovie, TurnsEveryOrientationUpright) {
  // A stored picture of 4 x 2 pixels; where its stored corners land on the upright page (pixels,
  // scale 1, no offset), by EXIF orientation.
  struct Corner {
    double x, y;
  };
  const struct {
    int orientation;
    Corner topLeft, topRight, bottomLeft;  // of the stored picture
  } cases[] = {
      {1, {0, 0}, {4, 0}, {0, 2}}, {2, {4, 0}, {0, 0}, {4, 2}}, {3, {4, 2}, {0, 2}, {4, 0}},
      {4, {0, 2}, {4, 2}, {0, 0}}, {5, {0, 0}, {0, 4}, {2, 0}}, {6, {2, 0}, {2, 4}, {0, 0}},
      {7, {2, 4}, {2, 0}, {0, 4}}, {8, {0, 4}, {0, 0}, {2, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.orientation);
    const swf::Matrix m = UprightMatrix(c.orientation, 4, 2, 1.0, 100, 200);
    ASSERT_TRUE(m.hasScale);
    auto apply = [&](double u, double v) {
      return Corner{(m.scaleX * u + m.rotateSkew1 * v) / 65536.0 + m.translateX - 100,
                    (m.rotateSkew0 * u + m.scaleY * v) / 65536.0 + m.translateY - 200};
    };
    for (const auto& [stored, upright] : {std::pair{Corner{0, 0}, c.topLeft},
                                          {Corner{4, 0}, c.topRight},
                                          {Corner{0, 2}, c.bottomLeft}}) {
      const Corner got = apply(stored.x, stored.y);
      EXPECT_NEAR(got.x, upright.x * 20, 1e-6) << stored.x << "," << stored.y;
      EXPECT_NEAR(got.y, upright.y * 20, 1e-6) << stored.x << "," << stored.y;
    }
  }
  // Upright sizes fit the stage: a picture stored 200 x 100 but turned a quarter is 100 x 200
  // upright and fills a 100 x 200 stage.
  const swf::Movie movie = PageMovie({}, {TPictureKind::kJpeg, 100, 200},
                                     {.stageWidth = 100, .stageHeight = 200, .orientation = 6});
  const swf::DefineShape& shape = *ShapesByDepth(movie).at(1);
  EXPECT_EQ(shape.bounds, (swf::Rect{0, 2000, 0, 4000}));
  EXPECT_EQ(shape.fillStyles[0].matrix.rotateSkew1, -20 << 16);
  EXPECT_EQ(shape.fillStyles[0].matrix.translateX, 2000);
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
  WriteFileBytes(PathOf("gif/1.gif"), "GIF89a\x01");
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
       "\"2 notes.txt\": not a JPEG, PNG or GIF picture"},
      {"GIF cut in its screen size",
       {PathOf("gif"), "-o", PathOf("old.exe")},
       1,
       "\"1.gif\": GIF without its screen size"},
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
      {"GIF89a", std::string("GIF89a\x01\x02\x03\x04", 10), TPictureKind::kGif, 0x0201, 0x0403},
      {"GIF87a", std::string("GIF87a\x0A\0\x14\0", 10), TPictureKind::kGif, 10, 20},
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

// A JPEG whose first segment is APP1 "Exif" with IFD0 = `entries` (tag, type, count, value),
// in either byte order.
struct TExifEntry {
  std::uint16_t tag, type;
  std::uint32_t count, value;
};
std::string ExifJpeg(std::uint16_t width, std::uint16_t height, bool bigEndian,
                     std::vector<TExifEntry> entries) {
  auto u16 = [&](std::uint32_t v) {
    return bigEndian ? std::string{char(v >> 8), char(v)} : std::string{char(v), char(v >> 8)};
  };
  auto u32 = [&](std::uint32_t v) {
    return bigEndian ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16);
  };
  std::string tiff =
      (bigEndian ? "MM" : "II") + u16(42) + u32(8) + u16(std::uint32_t(entries.size()));
  for (const TExifEntry& e : entries) {
    tiff += u16(e.tag) + u16(e.type) + u32(e.count);
    // A SHORT value sits left-aligned in the 4-byte field.
    tiff += e.type == 3 ? u16(e.value) + u16(0) : u32(e.value);
  }
  tiff += u32(0);  // no next IFD
  const std::string app1 = std::string("Exif\0\0", 6) + tiff;
  const std::size_t length = app1.size() + 2;
  return std::string("\xFF\xD8\xFF\xE1", 4) + char(length >> 8) + char(length) + app1 +
         Jpeg(width, height).substr(2);
}

TEST(PagePictures, ExifOrientationAndTheUprightSize) {
  for (const bool bigEndian : {false, true}) {
    for (std::uint8_t orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(::testing::Message() << (bigEndian ? "MM " : "II ") << int(orientation));
      // Another tag first, as cameras write them (Make, ASCII, past the entries).
      const std::string bytes =
          ExifJpeg(640, 480, bigEndian, {{0x010F, 2, 6, 100}, {0x0112, 3, 1, orientation}});
      const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
      const TPictureSize size = ReadPictureSize({data, bytes.size()});
      EXPECT_EQ(size.orientation, orientation);
      EXPECT_EQ(size.width, 640u);
      EXPECT_EQ(size.height, 480u);
      const bool turned = orientation >= 5;
      EXPECT_EQ(size.uprightWidth, turned ? 480u : 640u);
      EXPECT_EQ(size.uprightHeight, turned ? 640u : 480u);
    }
  }
  // A broken or missing tag reads as upright; the picture itself is still taken.
  const struct {
    const char* name;
    std::string bytes;
  } upright[] = {
      {"no EXIF", Jpeg(640, 480)},
      {"no orientation tag", ExifJpeg(640, 480, false, {{0x010F, 2, 6, 100}})},
      {"value 0", ExifJpeg(640, 480, false, {{0x0112, 3, 1, 0}})},
      {"value 9", ExifJpeg(640, 480, true, {{0x0112, 3, 1, 9}})},
      {"type LONG", ExifJpeg(640, 480, false, {{0x0112, 4, 1, 6}})},
      {"two values", ExifJpeg(640, 480, false, {{0x0112, 3, 2, 6}})},
      {"IFD past the segment",
       [] {
         std::string b = ExifJpeg(640, 480, false, {{0x0112, 3, 1, 6}});
         b[6 + 6 + 4] = char(0xF0);  // IFD0 offset
         return b;
       }()},
      {"more entries than the segment holds",
       [] {
         std::string b = ExifJpeg(640, 480, false, {{0x0112, 3, 1, 6}});
         b[6 + 6 + 8] = char(0x40);  // entry count
         b[6 + 6 + 10] = 0;          // the one entry is another tag
         return b;
       }()},
      {"not TIFF",
       [] {
         std::string b = ExifJpeg(640, 480, false, {{0x0112, 3, 1, 6}});
         b[6 + 6 + 2] = 43;
         return b;
       }()},
  };
  for (const auto& c : upright) {
    SCOPED_TRACE(c.name);
    const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    const TPictureSize size = ReadPictureSize({data, c.bytes.size()});
    EXPECT_EQ(size.orientation, 1);
    EXPECT_EQ(size.uprightWidth, 640u);
    EXPECT_EQ(size.uprightHeight, 480u);
  }
  // PNG and GIF have no orientation: upright is as stored.
  const std::string png = Png(30, 70);
  const TPictureSize pngSize =
      ReadPictureSize({reinterpret_cast<const std::uint8_t*>(png.data()), png.size()});
  EXPECT_EQ(pngSize.orientation, 1);
  EXPECT_EQ(pngSize.uprightWidth, 30u);
  EXPECT_EQ(pngSize.uprightHeight, 70u);
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
  // A press inside the HitTest area that holds the point (stage pixels): pages turn on it.
  void Click(int x, int y) {
    for (const auto* b : buttons_) {
      const swf::DefineShape* area = HitArea(*b);
      if (!area || x * 20 < area->bounds.xMin || x * 20 >= area->bounds.xMax ||
          y * 20 < area->bounds.yMin || y * 20 >= area->bounds.yMax)
        continue;
      for (const auto& cond : b->actions)
        if (cond.conditions & swf::ButtonCondAction::kOverUpToOverDown) Run(cond.actions);
    }
  }
  std::vector<std::string> TakeRequests() { return std::exchange(requests_, {}); }
  int frame() const { return frame_; }
  // What the levels above the navigator hold, top first: the page shown, then what lies
  // under it.
  std::vector<std::string> Levels() const {
    std::vector<std::string> pages;
    for (auto l = levels_.rbegin(); l != levels_.rend(); ++l) pages.push_back(l->second);
    return pages;
  }

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
  void Request(const std::string& url, const std::string& target) {
    requests_.push_back(url + " " + target);
    if (target.rfind("_level", 0) != 0) return;
    const int level = std::stoi(target.substr(6));
    EXPECT_GT(level, 0) << "the navigator's own level";
    if (url.empty()) {
      EXPECT_EQ(levels_.erase(level), 1u) << "unloads an empty level " << level;
    } else {
      levels_[level] = url;
    }
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
          Request(a.url, a.target);
          break;
        case swf::kActionGetUrl2: {
          EXPECT_EQ(a.getUrl2Flags, 0x40) << "loads movies only";
          const std::string target = Pop(stack);
          Request(Pop(stack), target);
          break;
        }
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
  std::map<int, std::string> levels_;
  int frame_ = 0;
};

TEST(Navigator, KeysClicksAndTheToggleTurnPagesAndAskTheHost) {
  // Written and read back, as a player gets it.
  const auto file = swf::WriteMovie(NavigatorMovie(5, 600, 800));
  const swf::Movie movie = swf::ReadMovie(file);
  EXPECT_EQ(movie.frameSize, (swf::Rect{0, 12000, 0, 16000}));
  ASSERT_EQ(movie.frames.size(), 5u);
  NavigatorPlayer nav(movie);
  // Page N plays in level 6 - N: the next page waits in the level below the one shown.
  auto page = [](int n) { return "files/large/" + std::to_string(n) + ".swf"; };
  auto load = [&](int n) { return page(n) + " _level" + std::to_string(6 - n); };
  auto unload = [](int n) { return " _level" + std::to_string(6 - n); };
  auto report = [](int n) { return "FSCommand:page " + std::to_string(n); };
  const std::string probe =
      "object flash.external.ExternalInterface.call({3F6C2D1E-9A4B-4c7d-B2E5-6D8A1F0C3B79})";

  nav.Start();
  EXPECT_EQ(nav.TakeRequests(), (std::vector<std::string>{probe, report(1), load(1), load(2)}));
  EXPECT_EQ(nav.Levels(), (std::vector<std::string>{page(1), page(2)}));
  // Each page shown is told to the host first (FSCommand "page" N), then its levels change.
  const struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<std::string> requests;
    std::vector<std::string> levels;  // top first
  } steps[] = {
      {"Right: the page behind shows, the next is loaded behind it",
       [&] { nav.Key(swf::kKeyRight); },
       {report(2), unload(1), load(3)},
       {page(2), page(3)}},
      {"click on the right half",
       [&] { nav.Click(450, 10); },
       {report(3), unload(2), load(4)},
       {page(3), page(4)}},
      {"Left: loaded over the page shown, the one behind goes",
       [&] { nav.Key(swf::kKeyLeft); },
       {report(2), load(2), unload(4)},
       {page(2), page(3)}},
      {"Space", [&] { nav.Key(' '); }, {report(3), unload(2), load(4)}, {page(3), page(4)}},
      {"Down",
       [&] { nav.Key(swf::kKeyDown); },
       {report(4), unload(3), load(5)},
       {page(4), page(5)}},
      {"Page Down to the last page",
       [&] { nav.Key(swf::kKeyPageDown); },
       {report(5), unload(4)},
       {page(5)}},
      {"Right on the last page", [&] { nav.Key(swf::kKeyRight); }, {}, {page(5)}},
      {"click on the right half of the last page", [&] { nav.Click(599, 799); }, {}, {page(5)}},
      {"Up", [&] { nav.Key(swf::kKeyUp); }, {report(4), load(4)}, {page(4), page(5)}},
      {"Home: both afresh, and the host is not probed again",
       [&] { nav.Key(swf::kKeyHome); },
       {report(1), unload(4), unload(5), load(1), load(2)},
       {page(1), page(2)}},
      {"End: the last page has none behind it",
       [&] { nav.Key(swf::kKeyEnd); },
       {report(5), unload(1), unload(2), load(5)},
       {page(5)}},
      {"Home from the last page",
       [&] { nav.Key(swf::kKeyHome); },
       {report(1), unload(5), load(1), load(2)},
       {page(1), page(2)}},
      {"Home on the first page: reported, nothing loaded",
       [&] { nav.Key(swf::kKeyHome); },
       {report(1)},
       {page(1), page(2)}},
      {"a click in the band right of the stage",
       [&] { nav.Click(600 + 5000, 400); },
       {report(2), unload(1), load(3)},
       {page(2), page(3)}},
      {"a click in the band left of the stage",
       [&] { nav.Click(-5000, 400); },
       {report(1), load(1), unload(3)},
       {page(1), page(2)}},
      {"a click below the stage, right of the middle",
       [&] { nav.Click(301, 800 + 3000); },
       {report(2), unload(1), load(3)},
       {page(2), page(3)}},
      {"Backspace",
       [&] { nav.Key(swf::kKeyBackspace); },
       {report(1), load(1), unload(3)},
       {page(1), page(2)}},
      {"Page Up on the first page", [&] { nav.Key(swf::kKeyPageUp); }, {}, {page(1), page(2)}},
      {"F", [&] { nav.Key('F'); }, {"FSCommand:fullscreen true"}, {page(1), page(2)}},
      {"f", [&] { nav.Key('f'); }, {"FSCommand:fullscreen false"}, {page(1), page(2)}},
      {"f again", [&] { nav.Key('f'); }, {"FSCommand:fullscreen true"}, {page(1), page(2)}},
      {"a key the navigator ignores", [&] { nav.Key('x'); }, {}, {page(1), page(2)}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    EXPECT_EQ(nav.TakeRequests(), s.requests);
    EXPECT_EQ(nav.Levels(), s.levels);
  }
}

TEST(Navigator, OnePageBookLoadsItsPageAlone) {
  const swf::Movie movie = swf::ReadMovie(swf::WriteMovie(NavigatorMovie(1, 100, 100)));
  NavigatorPlayer nav(movie);
  nav.Start();
  EXPECT_EQ(nav.Levels(), (std::vector<std::string>{"files/large/1.swf"}));
  nav.Key(swf::kKeyEnd);
  nav.Key(swf::kKeyRight);
  EXPECT_EQ(nav.Levels(), (std::vector<std::string>{"files/large/1.swf"}));
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
    std::vector<std::string> requests = {
        probe, "FSCommand:page " + std::to_string(n),
        "files/large/" + std::to_string(n) + ".swf _level" + std::to_string(6 - n)};
    if (n < 5)
      requests.push_back("files/large/" + std::to_string(n + 1) + ".swf _level" +
                         std::to_string(5 - n));
    return requests;
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
    EXPECT_EQ(nav.TakeRequests().at(0), "FSCommand:page 1");
    EXPECT_EQ(nav.Levels(), (std::vector<std::string>{"files/large/1.swf", "files/large/2.swf"}));
    nav.Key(swf::kKeyRight);
    EXPECT_EQ(nav.frame(), 1);
  }
}

}  // namespace
}  // namespace pageturn
