// The native build's imaging: libjpeg-turbo for JPEG, libpng for PNG, stb_image for GIF.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// After <cstdio>: it needs size_t and FILE declared.
#include <jpeglib.h>
#include <png.h>

#include "core/error.h"
#include "tools/imaging_codecs.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_GIF
#define STBI_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace pageturn {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back
// to the call that started the work, whose frame holds nothing with a destructor.
struct TJpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr info) {
  auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

void OnJpegMessage(j_common_ptr, int) {}  // warnings (such as a short file) are not printed

struct TJpegDecode {
  jpeg_decompress_struct info;
  TJpegErrors errors;
  std::uint32_t width, height;
  bool cmyk, inverted;
};

// Reads the header and sets up the output; false on a libjpeg error.
bool StartJpeg(TJpegDecode& d, std::span<const std::uint8_t> bytes, std::uint32_t minWidth,
               std::uint32_t minHeight) {
  if (setjmp(d.errors.jump)) return false;
  jpeg_create_decompress(&d.info);
  jpeg_mem_src(&d.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&d.info, TRUE);
  d.cmyk = d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
  // Adobe's CMYK holds the complements of the ink amounts.
  d.inverted = d.cmyk && d.info.saw_Adobe_marker;
  d.info.out_color_space = d.cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  // The largest reduction that keeps at least the size asked for.
  unsigned denominator = 8;
  while (denominator > 1 && ((d.info.image_width + denominator - 1) / denominator < minWidth ||
                             (d.info.image_height + denominator - 1) / denominator < minHeight))
    denominator /= 2;
  d.info.scale_num = 1;
  d.info.scale_denom = denominator;
  jpeg_calc_output_dimensions(&d.info);
  d.width = d.info.output_width;
  d.height = d.info.output_height;
  return true;
}

bool ReadJpegRows(TJpegDecode& d, std::uint8_t* pixels) {
  if (setjmp(d.errors.jump)) return false;
  jpeg_start_decompress(&d.info);
  while (d.info.output_scanline < d.info.output_height) {
    JSAMPROW row = pixels + std::size_t(d.info.output_scanline) * d.width * 4;
    jpeg_read_scanlines(&d.info, &row, 1);
  }
  jpeg_finish_decompress(&d.info);
  return true;
}

TImage DecodeJpeg(std::span<const std::uint8_t> bytes, std::uint32_t minWidth,
                  std::uint32_t minHeight) {
  TJpegDecode d{};
  d.info.err = jpeg_std_error(&d.errors.manager);
  d.errors.manager.error_exit = OnJpegError;
  d.errors.manager.emit_message = OnJpegMessage;
  struct Destroy {
    TJpegDecode& d;
    ~Destroy() { jpeg_destroy_decompress(&d.info); }
  } destroy{d};
  if (!StartJpeg(d, bytes, minWidth, minHeight))
    throw Error(std::string("JPEG: ") + d.errors.message);
  CheckDecodableSize(d.info.image_width, d.info.image_height);
  TImage image;
  image.width = d.width;
  image.height = d.height;
  image.rgba.resize(std::size_t(d.width) * d.height * 4);
  if (!ReadJpegRows(d, image.rgba.data())) throw Error(std::string("JPEG: ") + d.errors.message);
  if (d.cmyk) {
    if (d.inverted)
      for (std::uint8_t& v : image.rgba) v = std::uint8_t(255 - v);
    CmykToRgba(image.rgba.data(), std::size_t(d.width) * d.height);
  }
  return image;
}

TImage DecodePng(std::span<const std::uint8_t> bytes) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size()))
    throw Error(std::string("PNG: ") + png.message);
  struct Free {
    png_image& png;
    ~Free() { png_image_free(&png); }
  } free{png};
  CheckDecodableSize(png.width, png.height);
  png.format = PNG_FORMAT_RGBA;
  TImage image;
  image.width = png.width;
  image.height = png.height;
  image.rgba.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr))
    throw Error(std::string("PNG: ") + png.message);
  return image;
}

TImage DecodeGif(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > 0x7FFFFFFF) throw Error("GIF too large");
  int width = 0, height = 0, channels = 0;
  const int length = int(bytes.size());
  if (!stbi_info_from_memory(bytes.data(), length, &width, &height, &channels))
    throw Error(std::string("GIF: ") + stbi_failure_reason());
  CheckDecodableSize(std::uint64_t(width), std::uint64_t(height));
  stbi_uc* pixels = stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, 4);
  if (!pixels) throw Error(std::string("GIF: ") + stbi_failure_reason());
  TImage image;
  image.width = std::uint32_t(width);
  image.height = std::uint32_t(height);
  image.rgba.assign(pixels, pixels + std::size_t(width) * height * 4);
  stbi_image_free(pixels);
  return image;
}

// Collects what libjpeg writes, in one growing buffer that it hands back when full.
std::vector<std::uint8_t> CompressJpeg(const TImage& image, int quality, bool& failed,
                                       std::string& message) {
  jpeg_compress_struct info{};
  TJpegErrors errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = OnJpegError;
  errors.manager.emit_message = OnJpegMessage;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  failed = false;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    failed = true;
    message = errors.message;
    return {};
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = image.width;
  info.image_height = image.height;
  info.input_components = 4;
  info.in_color_space = JCS_EXT_RGBA;  // alpha is skipped
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(image.rgba.data()) +
                   std::size_t(info.next_scanline) * image.width * 4;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

void CheckPixels(const TImage& image) {
  if (image.width == 0 || image.height == 0 ||
      image.rgba.size() != std::size_t(image.width) * image.height * 4)
    throw Error("cannot encode a picture without its pixels");
}

}  // namespace

TImage DecodeWithCodecs(std::span<const std::uint8_t> bytes, std::uint32_t minWidth,
                        std::uint32_t minHeight) {
  auto startsWith = [&](const char* magic, std::size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
  };
  if (startsWith("\xFF\xD8\xFF", 3)) return DecodeJpeg(bytes, minWidth, minHeight);
  if (startsWith("\x89PNG\r\n\x1A\n", 8)) return DecodePng(bytes);
  if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6)) return DecodeGif(bytes);
  throw Error("not a JPEG, PNG or GIF picture");
}

std::vector<std::uint8_t> EncodeJpeg(const TImage& image, int quality) {
  CheckPixels(image);
  if (image.width > 65500 || image.height > 65500) throw Error("too large for a JPEG");
  bool failed = false;
  std::string message;
  std::vector<std::uint8_t> out = CompressJpeg(image, quality, failed, message);
  if (failed) throw Error("JPEG: " + message);
  return out;
}

std::vector<std::uint8_t> EncodePng(const TImage& image) {
  CheckPixels(image);
  bool opaque = true;
  for (std::size_t i = 3; i < image.rgba.size() && opaque; i += 4) opaque = image.rgba[i] == 255;
  std::vector<std::uint8_t> rgb;
  const void* pixels = image.rgba.data();
  if (opaque) {
    rgb.resize(std::size_t(image.width) * image.height * 3);
    for (std::size_t i = 0, j = 0; j < rgb.size(); i += 4, j += 3)
      std::memcpy(&rgb[j], &image.rgba[i], 3);
    pixels = rgb.data();
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = opaque ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, pixels, 0, nullptr))
    throw Error(std::string("PNG: ") + png.message);
  std::vector<std::uint8_t> out(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, pixels, 0, nullptr))
    throw Error(std::string("PNG: ") + png.message);
  out.resize(size);
  return out;
}

}  // namespace pageturn
