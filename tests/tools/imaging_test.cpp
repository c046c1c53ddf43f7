// The tools' imaging layer against pictures that another program (ImageMagick's `convert`)
// writes and reads: what we decode is what it drew, and what we encode it reads back.
#include "tools/imaging.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/error.h"
#include "tools/page_pictures.h"

namespace pageturn {
namespace {

namespace fs = std::filesystem;

class Imaging : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("pageturn-imaging-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

  // Runs `convert ARGS` in the test's folder; the file names in ARGS are relative to it.
  void Convert(const std::string& args) const {
    const std::string command = "cd '" + folder_.string() + "' && convert " + args;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  std::vector<std::uint8_t> Read(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(PathOf(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  // The pixels of a picture as ImageMagick reads them (8-bit RGBA).
  TImage Reference(const std::string& name, std::uint32_t width, std::uint32_t height) const {
    const std::string raw = name + ".rgba";
    const std::string command =
        "cd '" + folder_.string() + "' && convert '" + name + "[0]' -depth 8 rgba:'" + raw + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    TImage image;
    image.width = width;
    image.height = height;
    image.rgba = Read(raw);
    EXPECT_EQ(image.rgba.size(), std::size_t(width) * height * 4) << name;
    return image;
  }

  fs::path folder_;
};

// The largest difference of any channel between two images of one size.
int MaxDifference(const TImage& a, const TImage& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  if (a.rgba.size() != b.rgba.size()) return 256;
  int most = 0;
  for (std::size_t i = 0; i < a.rgba.size(); ++i)
    most = std::max(most, std::abs(int(a.rgba[i]) - int(b.rgba[i])));
  return most;
}

TImage Decode(const std::vector<std::uint8_t>& bytes) { return DecodePicture(bytes); }

TEST_F(Imaging, DecodesWhatAnotherProgramDrew) {
  // A picture with hard edges and smooth areas: coloured quarters and a gradient band.
  Convert(
      "-size 64x48 xc:red -fill lime -draw 'rectangle 32,0 63,23' -fill blue -draw 'rectangle "
      "0,24 31,47' -fill white -draw 'rectangle 32,24 63,47' page.png");
  const struct {
    const char* name;
    const char* convertArgs;
    int tolerance;
  } cases[] = {
      {"baseline JPEG", "page.png -quality 95 baseline.jpg", 12},
      {"progressive JPEG", "page.png -quality 95 -interlace JPEG progressive.jpg", 12},
      {"greyscale JPEG", "page.png -colorspace Gray -quality 95 grey.jpg", 12},
      {"CMYK JPEG", "page.png -colorspace CMYK -quality 95 cmyk.jpg", 16},
      {"PNG with alpha", "page.png -alpha set -channel A -fx 'i/w' +channel alpha.png", 0},
      {"16-bit PNG", "page.png -depth 16 deep.png", 0},
      {"palette PNG", "page.png -colors 4 PNG8:palette.png", 0},
      {"GIF", "page.png gif.gif", 0},
      {"GIF with transparency", "page.png -transparent red transparent.gif", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Convert(c.convertArgs);
    std::string file = c.convertArgs;
    file = file.substr(file.rfind(' ') + 1);
    if (file.find(':') != std::string::npos) file = file.substr(file.find(':') + 1);
    const std::vector<std::uint8_t> bytes = Read(file);
    const TImage image = Decode(bytes);
    ASSERT_EQ(image.width, 64u);
    ASSERT_EQ(image.height, 48u);
    // ImageMagick turns CMYK into RGB by the same plain formula; its transparent GIF pixels
    // keep a colour under alpha 0, so those are compared by alpha alone.
    TImage reference = Reference(file, 64, 48);
    if (std::string(c.name) == "GIF with transparency") {
      for (std::size_t i = 0; i < reference.rgba.size(); i += 4) {
        EXPECT_EQ(image.rgba[i + 3], reference.rgba[i + 3]) << i / 4;
        if (reference.rgba[i + 3] == 0)
          for (int k = 0; k < 4; ++k) reference.rgba[i + k] = image.rgba[i + k];
      }
    }
    EXPECT_LE(MaxDifference(image, reference), c.tolerance);
  }
}

TEST_F(Imaging, EncodedPicturesReadBackInAnotherProgram) {
  TImage image;
  image.width = 40;
  image.height = 30;
  for (std::uint32_t y = 0; y < image.height; ++y)
    for (std::uint32_t x = 0; x < image.width; ++x)
      image.rgba.insert(image.rgba.end(), {std::uint8_t(x * 6), std::uint8_t(y * 8),
                                           std::uint8_t(x * 5), std::uint8_t(255)});

  const std::vector<std::uint8_t> jpeg = EncodeJpeg(image, 95);
  const TPictureSize jpegSize = ReadPictureSize(jpeg);
  EXPECT_EQ(jpegSize.kind, TPictureKind::kJpeg);
  EXPECT_EQ(jpegSize.jpegFrame, 0xC0) << "baseline";
  EXPECT_EQ(jpegSize.jpegPrecision, 8);
  EXPECT_EQ(jpegSize.jpegComponents, 3);
  Write("out.jpg", jpeg);
  EXPECT_LE(MaxDifference(Reference("out.jpg", 40, 30), image), 12);

  // Opaque pixels make an RGB PNG; any transparency keeps alpha, exactly.
  Write("opaque.png", EncodePng(image));
  EXPECT_EQ(MaxDifference(Reference("opaque.png", 40, 30), image), 0);
  TImage seeThrough = image;
  for (std::size_t i = 3; i < seeThrough.rgba.size(); i += 4) seeThrough.rgba[i] = std::uint8_t(i);
  const std::vector<std::uint8_t> png = EncodePng(seeThrough);
  Write("alpha.png", png);
  EXPECT_EQ(MaxDifference(Reference("alpha.png", 40, 30), seeThrough), 0);
  EXPECT_EQ(MaxDifference(Decode(png), seeThrough), 0);
}

TEST_F(Imaging, DamagedAndForeignBytesAreErrors) {
  Convert("-size 32x32 xc:orange whole.jpg");
  Convert("-size 32x32 xc:orange whole.png");
  const std::vector<std::uint8_t> jpeg = Read("whole.jpg"), png = Read("whole.png");
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"text", {'h', 'e', 'l', 'l', 'o'}},
      {"JPEG header alone", {jpeg.begin(), jpeg.begin() + 20}},
      {"PNG cut in its data", {png.begin(), png.begin() + long(png.size() / 2)}},
      {"GIF signature alone", {'G', 'I', 'F', '8', '9', 'a'}},
  };
  for (const auto& c : cases) EXPECT_THROW(Decode(c.bytes), Error) << c.name;
}

TEST_F(Imaging, OrientTurnsEachExifValueUpright) {
  // An upright picture, and what a camera stores for each orientation value.
  Convert(
      "-size 6x4 xc:white -fill red -draw 'point 0,0' -fill lime -draw 'point 5,0' -fill "
      "blue -draw 'point 0,3' -fill black -draw 'point 1,0' upright.png");
  const TImage upright = Decode(Read("upright.png"));
  const char* stored[] = {"",           "-flop",       "-rotate 180", "-flip",
                          "-transpose", "-rotate 270", "-transverse", "-rotate 90"};
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    Convert("upright.png " + std::string(stored[orientation - 1]) + " stored.png");
    const TImage turned = Orient(Decode(Read("stored.png")), std::uint8_t(orientation));
    EXPECT_EQ(MaxDifference(turned, upright), 0);
  }
}

TEST(ImagingScale, ResizeAveragesInPremultipliedAlphaAndFits) {
  // Opaque red beside fully transparent green: the transparent colour must not tint the red.
  TImage image;
  image.width = 8;
  image.height = 8;
  for (int i = 0; i < 64; ++i)
    image.rgba.insert(image.rgba.end(), i % 8 < 4
                                            ? std::initializer_list<std::uint8_t>{255, 0, 0, 255}
                                            : std::initializer_list<std::uint8_t>{0, 255, 0, 0});
  const TImage small = Resize(image, 3, 3);
  ASSERT_EQ(small.rgba.size(), 3u * 3 * 4);
  for (int i = 0; i < 9; ++i) {
    const std::uint8_t* p = &small.rgba[std::size_t(i) * 4];
    if (p[3] > 0) {
      EXPECT_GE(p[0], 250) << i;
      EXPECT_LE(p[1], 5) << i;
    }
  }
  // A flat colour stays flat at any size.
  TImage flat{5, 7, std::vector<std::uint8_t>(5 * 7 * 4)};
  for (std::size_t i = 0; i < flat.rgba.size(); i += 4)
    flat.rgba[i] = 10, flat.rgba[i + 1] = 120, flat.rgba[i + 2] = 230, flat.rgba[i + 3] = 255;
  for (const auto& [w, h] : {std::pair{2u, 3u}, {13u, 17u}, {1u, 1u}}) {
    const TImage scaled = Resize(flat, w, h);
    for (std::size_t i = 0; i < scaled.rgba.size(); i += 4)
      EXPECT_EQ(std::vector<std::uint8_t>(scaled.rgba.begin() + long(i),
                                          scaled.rgba.begin() + long(i) + 4),
                (std::vector<std::uint8_t>{10, 120, 230, 255}));
  }

  const struct {
    std::uint32_t w, h, maxW, maxH, fitW, fitH;
  } fits[] = {
      {9000, 6000, 8191, 8191, 8191, 5461}, {6000, 9000, 8191, 8191, 5461, 8191},
      {100, 50, 200, 200, 100, 50},         {20000, 1, 8191, 8191, 8191, 1},
      {4000, 3000, 160, 160, 160, 120},     {3000, 4000, 160, 160, 120, 160},
  };
  for (const auto& f : fits) {
    const TFitSize fit = FitInside(f.w, f.h, f.maxW, f.maxH);
    EXPECT_EQ(fit.width, f.fitW) << f.w << "x" << f.h;
    EXPECT_EQ(fit.height, f.fitH) << f.w << "x" << f.h;
  }
}

}  // namespace
}  // namespace pageturn
