// pageturn-pack pages and rescue, run in-process on older books that the tests lay out byte by
// byte: page movies holding their pictures in every bitmap form, with sprites, texts, fonts and
// actions of other versions around them, an engine's book.swf and thumbnails.
#include "tools/pages_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "bundle/bundle_names.h"
#include "bundle/exe_ext_reader.h"
#include "old_book_builder.h"
#include "tests/support/jpeg_tables.h"
#include "tools/imaging.h"
#include "tools/pack_command.h"
#include "tools/rescue_command.h"

namespace pageturn {
namespace {

namespace fs = std::filesystem;
using namespace oldmovie;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

constexpr int32_t kTwips = 20;

// Quarters: a colour of the seed's, red, cyan and yellow; with a partial alpha the lower left is
// half transparent and the lower right clear. Full colours stay exact through premultiplying.
TImage Pattern(uint32_t w, uint32_t h, uint8_t seed, bool partialAlpha = false) {
  TImage image{w, h, {}};
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const int quarter = (y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0);
      static const uint8_t kColours[4][3] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 255}, {255, 255, 0}};
      const uint8_t* c = kColours[quarter];
      const uint8_t alpha[4] = {255, 255, uint8_t(partialAlpha ? 128 : 255),
                                uint8_t(partialAlpha ? 0 : 255)};
      if (quarter == 0)
        image.rgba.insert(image.rgba.end(), {seed, 0, uint8_t(255 - seed), alpha[0]});
      else
        image.rgba.insert(image.rgba.end(), {c[0], c[1], c[2], alpha[quarter]});
    }
  }
  return image;
}

Bytes Premultiplied(const TImage& image) {
  Bytes argb;
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    const uint32_t a = image.rgba[i + 3];
    argb.insert(argb.end(),
                {uint8_t(a), uint8_t(image.rgba[i] * a / 255), uint8_t(image.rgba[i + 1] * a / 255),
                 uint8_t(image.rgba[i + 2] * a / 255)});
  }
  return argb;
}

// A page movie: the picture (character 1, w x h) in a shape placed at 1:1, a small bitmap
// beside it, and tags of every other kind around them.
Bytes PageMovie(const Bytes& definitions, uint32_t w, uint32_t h) {
  const Bytes small = DefineBitsLossless(50, 1, 4, 4, Bytes(64, 0x7F));
  return Movie(Cat({Tag(69, {0, 0, 0, 0}), Surroundings(), definitions, small,
                    Shape(2, int32_t(w) * kTwips, int32_t(h) * kTwips, 1, Matrix(20, 20)),
                    Shape(51, 4 * kTwips, 4 * kTwips, 50, Matrix(20, 20)),
                    PlaceObject2(1, 51, Matrix(1, 1)), PlaceObject2(2, 2, Matrix(1, 1, 80, 80)),
                    Surroundings(), ShowFrame(), RemoveObject2(2), ShowFrame()}),
               int(w), int(h));
}

struct TResult {
  int code;
  std::string out, err;
};

class OldBook : public testing::TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    WriteFileBytes(PathOf("player.exe"), testing::kImage);
    WriteFileBytes(PathOf("flash.ocx"), "MZ the runtime");
    // Every picture in a form of its own; page 7 shows none (its thumbnail may stand in).
    const Bytes jpeg1 = EncodeJpeg(Pattern(120, 160, 10));
    const auto [tables, frame] = SplitJpegTables(jpeg1);
    jpeg2_ = EncodeJpeg(Pattern(160, 120, 40));
    png3_ = EncodePng(Pattern(90, 60, 70, true));
    jpeg4_ = EncodeJpeg(Pattern(64, 48, 100));
    lossless5_ = Pattern(40, 30, 130, true);
    jpeg6_ = EncodeJpeg(Pattern(200, 100, 160));
    jpeg10_ = EncodeJpeg(Pattern(32, 32, 190));
    thumb7_ = EncodeJpeg(Pattern(24, 32, 220));
    Bytes alpha10(32 * 32);
    for (size_t i = 0; i < alpha10.size(); ++i) alpha10[i] = uint8_t(i * 7);
    alpha10_ = alpha10;
    // DefineBits: the tables stream, then the frame, as one JPEG.
    joined1_ =
        Cat({Bytes(tables.begin(), tables.end() - 2), Bytes(frame.begin() + 2, frame.end())});
    expected_ = {{"1.jpg", Text(joined1_)}, {"2.jpg", Text(jpeg2_)}, {"3.png", Text(png3_)},
                 {"4.jpg", Text(jpeg4_)},   {"6.jpg", Text(jpeg6_)}, {"7.jpg", Text(thumb7_)}};
    jpeg1_ = jpeg1;
    pages_ = {
        {1, PageMovie(Cat({DefineBits(1, frame), JpegTables(tables)}), 120, 160)},
        {2, PageMovie(DefineBitsJpeg2(1, Cat({{0xFF, 0xD9, 0xFF, 0xD8}, jpeg2_})), 160, 120)},
        {3, PageMovie(DefineBitsJpeg2(1, png3_), 90, 60)},
        {4, PageMovie(DefineBitsJpeg3(1, jpeg4_, Bytes(64 * 48, 0xFF)), 64, 48)},
        {5, PageMovie(DefineBitsLossless(1, 2, 40, 30, Premultiplied(lossless5_)), 40, 30)},
        {6, Movie(Cat({DefineBitsJpeg2(1, jpeg6_),
                       Shape(2, 200 * kTwips, 100 * kTwips, 1, Matrix(20, 20)),
                       Sprite(3, Cat({PlaceObject2(1, 2, Matrix(1, 1)), ShowFrame()})),
                       Surroundings(), PlaceObject2(1, 3, Matrix(1, 1)), ShowFrame()}))},
        {7, Movie(Cat({Surroundings(), ShowFrame()}))},
        {10, PageMovie(DefineBitsJpeg3(1, jpeg10_, alpha10_), 32, 32)},
    };
  }

  std::string WriteBook(const std::string& name, const std::map<int, Bytes>& pages,
                        const std::string& config = OldExeConfig("Old Atlas", 1, 1024, 700)) {
    std::vector<std::pair<std::string, std::string>> files = {
        {"book.swf", Text(ForeignBookMovie())}, {"files/book.bin", std::string(300, '\x01')}};
    if (!config.empty()) files.push_back({"ExeConfig.xml", config});
    for (const auto& [page, movie] : pages) {
      files.push_back({"files/large/" + std::to_string(page) + ".swf", Text(movie)});
      files.push_back({"files/thumb/" + std::to_string(page) + ".jpg",
                       page == 7 ? Text(thumb7_) : Text(EncodeJpeg(Pattern(8, 8, 1)))});
    }
    return MakeBook(name, OldBookEntries(files));
  }

  TResult Run(const std::string& command, std::vector<std::string> args) {
    std::ostringstream out, err;
    int code;
    if (command == "pages") {
      code = RunPagesCommand(args, out, err);
    } else {
      args.insert(args.end(), {"--player", PathOf("player.exe"), "--runtime", PathOf("flash.ocx")});
      code = RunRescueCommand(args, out, err, false);
    }
    return {code, out.str(), err.str()};
  }

  static std::map<std::string, std::string> Files(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
      files[entry.path().filename().string()] = ReadFileBytes(entry.path());
    return files;
  }

  static TImage Decoded(const std::string& bytes) {
    return DecodePicture(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  }

  Bytes jpeg1_, joined1_, jpeg2_, png3_, jpeg4_, jpeg6_, jpeg10_, thumb7_, alpha10_;
  TImage lossless5_;
  std::map<std::string, std::string> expected_;
  std::map<int, Bytes> pages_;
};

TEST_F(OldBook, PagesWritesEachPicturesOwnBytesOrAPngOfItsPixels) {
  const std::string book = WriteBook("old.exe", pages_);
  const TResult r = Run("pages", {book, "-o", PathOf("pictures"), "--thumbs-for-missing"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto files = Files(PathOf("pictures"));
  std::set<std::string> names;
  for (const auto& [name, bytes] : files) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"1.jpg", "2.jpg", "3.png", "4.jpg", "5.png", "6.jpg",
                                          "7.jpg", "10.png"}));
  for (const auto& [name, bytes] : expected_) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(files.count(name) && files.at(name) == bytes) << "the stored bytes, unchanged";
  }
  EXPECT_EQ(Decoded(files.at("1.jpg")).rgba, DecodePicture(jpeg1_).rgba)
      << "the joined JPEG is the picture that was split";
  // Lossless2: the straight colours of the premultiplied pixels, exactly.
  const TImage five = Decoded(files.at("5.png"));
  EXPECT_EQ(five.width, 40u);
  EXPECT_EQ(five.height, 30u);
  for (size_t i = 0; i < five.rgba.size(); i += 4) {
    if (lossless5_.rgba[i + 3] == 0) {
      EXPECT_EQ(five.rgba[i + 3], 0) << i;  // no colour to keep under full transparency
    } else {
      ASSERT_EQ(Bytes(five.rgba.begin() + i, five.rgba.begin() + i + 4),
                Bytes(lossless5_.rgba.begin() + i, lossless5_.rgba.begin() + i + 4))
          << "pixel " << i / 4;
    }
  }
  // JPEG3 with a partial alpha: the JPEG's own pixels, with that alpha.
  const TImage ten = Decoded(files.at("10.png")), jpeg = DecodePicture(jpeg10_);
  ASSERT_EQ(ten.rgba.size(), jpeg.rgba.size());
  for (size_t i = 0; i < ten.rgba.size() / 4; ++i) {
    ASSERT_EQ(ten.rgba[i * 4 + 3], alpha10_[i]) << "pixel " << i;
    if (alpha10_[i] == 0) continue;  // no colour to keep under full transparency
    ASSERT_EQ(Bytes(ten.rgba.begin() + i * 4, ten.rgba.begin() + i * 4 + 3),
              Bytes(jpeg.rgba.begin() + i * 4, jpeg.rgba.begin() + i * 4 + 3));
  }
  // What was taken from where, page by page in number order.
  const std::string lines[] = {
      "page 1: DefineBits 120\xC3\x97"
      "160 from files/large/1.swf\n",
      "page 2: DefineBitsJPEG2 160\xC3\x97"
      "120 from files/large/2.swf\n",
      "page 3: DefineBitsJPEG2 90\xC3\x97"
      "60 from files/large/3.swf\n",
      "page 4: DefineBitsJPEG3 64\xC3\x97"
      "48 from files/large/4.swf\n",
      "page 5: DefineBitsLossless2 40\xC3\x97"
      "30 from files/large/5.swf\n",
      "page 6: DefineBitsJPEG2 200\xC3\x97"
      "100 from files/large/6.swf\n",
      "page 7: thumbnail 24\xC3\x97"
      "32 from files/thumb/7.jpg\n",
      "page 10: DefineBitsJPEG3 32\xC3\x97"
      "32 from files/large/10.swf\n",
  };
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t found = r.out.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "in\n" << r.out;
    if (found != std::string::npos) at = found;
  }
}

TEST_F(OldBook, PagesReportsWhatItCannotTakeAndWritesNothing) {
  Bytes zws = pages_.at(2);
  zws[0] = 'Z';
  Bytes junkImage = PageMovie(DefineBitsJpeg2(1, Bytes(300, 0x42)), 30, 30);
  Bytes badAlpha =
      PageMovie(Tag(35, Cat({U16(1), U32(uint32_t(jpeg4_.size())), jpeg4_, {1, 2, 3}})), 64, 48);
  std::map<int, Bytes> damaged = pages_;
  damaged[2] = zws;
  damaged[3] = junkImage;
  damaged[4] = badAlpha;
  damaged[6] = Bytes{'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'v', 'i', 'e'};
  const std::string damagedBook = WriteBook("damaged.exe", damaged);
  WriteFileBytes(PathOf("plain.exe"), testing::kImage + "no bundle here");
  const std::string noPages = MakeBook("nopages.exe", OldBookEntries({{"book.swf", "FWS"}}));
  std::string cut = ReadFileBytes(WriteBook("whole.exe", pages_));
  cut.erase(testing::kImage.size() + 10, 200);  // the trailer's sizes no longer fit
  WriteFileBytes(PathOf("cut.exe"), cut);
  WriteFileBytes(PathOf("full/keep.txt"), "mine");

  struct Case {
    const char* name;
    std::vector<std::string> args;
    int code;
    std::vector<std::string> said;
  } cases[] = {
      {"no such file", {PathOf("absent.exe"), "-o", PathOf("out")}, 1, {"Cannot open file"}},
      {"not a book", {PathOf("plain.exe"), "-o", PathOf("out")}, 1, {"is not a book"}},
      {"a damaged book", {PathOf("cut.exe"), "-o", PathOf("out")}, 1, {"is damaged"}},
      {"no page movies", {noPages, "-o", PathOf("out")}, 1, {"no page movies"}},
      {"a page showing no bitmap",
       {WriteBook("seven.exe", pages_), "-o", PathOf("out")},
       1,
       {"Page 7 shows no bitmap"}},
      {"damaged page movies, named with their reasons",
       {damagedBook, "-o", PathOf("out"), "--thumbs-for-missing"},
       1,
       {"page 2 (files/large/2.swf): LZMA-compressed movie (ZWS)",
        "page 3 (files/large/3.swf): DefineBitsJPEG2 0\xC3\x97"
        "0: image data neither JPEG, PNG nor GIF",
        "page 4 (files/large/4.swf): DefineBitsJPEG3 64\xC3\x97"
        "48: alpha data:",
        "page 6 (files/large/6.swf): not a SWF file", "--skip-damaged"}},
      {"an output folder holding files",
       {WriteBook("b.exe", pages_), "-o", PathOf("full")},
       1,
       {"exists and is not an empty folder"}},
      {"no output", {PathOf("b.exe")}, 2, {"needs BOOK.exe and -o DIR"}},
      {"an unknown option", {PathOf("b.exe"), "-o", PathOf("out"), "--zip"}, 2, {"--zip"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TResult r = Run("pages", c.args);
    EXPECT_EQ(r.code, c.code);
    for (const std::string& words : c.said)
      EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(PathOf("out"))) << "nothing half-written";
    for (const auto& entry : fs::directory_iterator(folder_))
      EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
  }
  EXPECT_EQ(Files(PathOf("full")).size(), 1u);

  // The other pages are still taken when the damaged ones may be left out.
  const TResult r =
      Run("pages", {damagedBook, "-o", PathOf("out"), "--skip-damaged", "--thumbs-for-missing"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::set<std::string> names;
  for (const auto& [name, bytes] : Files(PathOf("out"))) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"1.jpg", "5.png", "7.jpg", "10.png"}));
  EXPECT_NE(r.out.find("page 6 (files/large/6.swf): not a SWF file, left out"), std::string::npos)
      << r.out;
}

// Entries of a written book by name.
std::map<std::string, std::string> BookEntries(const std::string& path) {
  const TExeExtReader reader(path);
  std::map<std::string, std::string> entries;
  for (const TBundleIndexLine& line : ParseBundleIndex(reader.ReadEntryText(0)))
    entries[line.name] = reader.ReadEntryText(BundleIndexNumber(line.value));
  return entries;
}

TEST_F(OldBook, RescueMakesABookOfThePicturesWithTheOldSettings) {
  const std::string book = WriteBook("old.exe", pages_);
  const std::string before = ReadFileBytes(book);
  TResult r = Run("rescue", {book, "-o", PathOf("new.exe"), "--thumbs-for-missing"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(book), before) << "the old book is never changed";
  EXPECT_NE(r.out.find("page 5: DefineBitsLossless2 40\xC3\x97"
                       "30 from files/large/5.swf"),
            std::string::npos)
      << r.out;
  auto entries = BookEntries(PathOf("new.exe"));
  for (int page = 1; page <= 8; ++page)
    EXPECT_TRUE(entries.count("files/large/" + std::to_string(page) + ".swf")) << page;
  EXPECT_FALSE(entries.count("files/large/9.swf"));
  const std::string& config = entries["ExeConfig.xml"];
  EXPECT_NE(config.find("Old Atlas"), std::string::npos) << config;
  EXPECT_NE(config.find(">1</WindowOpenMode>"), std::string::npos) << config;
  EXPECT_NE(config.find(">1024</WindowOpenWidth>"), std::string::npos) << config;
  EXPECT_NE(config.find(">700</WindowOpenHeight>"), std::string::npos) << config;
  // Page 1's movie holds the old JPEG's bytes as they were.
  EXPECT_NE(entries["files/large/1.swf"].find(Text(joined1_)), std::string::npos);

  // Given settings win over the old ones; a book without ExeConfig.xml takes make's defaults.
  r = Run("rescue", {WriteBook("bare.exe", pages_, ""), "-o", PathOf("given.exe"), "--caption",
                     "New Atlas", "--mode", "3", "--thumbs-for-missing"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string given = BookEntries(PathOf("given.exe"))["ExeConfig.xml"];
  EXPECT_NE(given.find("New Atlas"), std::string::npos) << given;
  EXPECT_NE(given.find(">3</WindowOpenMode>"), std::string::npos) << given;
  EXPECT_NE(given.find(">800</WindowOpenWidth>"), std::string::npos) << given;

  // Refusals leave no book and no folder of pictures behind.
  r = Run("rescue", {book, "-o", book});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("must not be the old book"), std::string::npos) << r.err;
  r = Run("rescue", {book, "-o", PathOf("none.exe")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Page 7 shows no bitmap"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFileBytes(book), before);
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder_))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"bare.exe", "flash.ocx", "given.exe", "new.exe", "old.exe",
                                         "player.exe"}));
}

}  // namespace
}  // namespace pageturn
