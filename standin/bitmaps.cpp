#include "bitmaps.h"

#include <wincodec.h>

#include <atomic>
#include <stdexcept>
#include <type_traits>
#include <variant>

#include "com_support.h"
#include "swf/image_header.h"
#include "swf/swf_reader.h"

namespace standin {

namespace {

class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw DecodeError(std::string(what) + " failed");
}

std::atomic<uint64_t> g_processTotal{0};

uint64_t PixelBytes(uint64_t width, uint64_t height) { return width * height * 4; }

void CheckSize(uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) throw DecodeError("empty bitmap");
  if (width > 0x7FFF || height > 0x7FFF || PixelBytes(width, height) > kMaxBitmapBytes)
    throw DecodeError("bitmap too large");
}

uint32_t Premultiply(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  if (a != 255) {
    r = r * a / 255;
    g = g * a / 255;
    b = b * a / 255;
  }
  return a << 24 | r << 16 | g << 8 | b;
}

// The size the picture's own header claims, checked: decoders allocate the whole image as they
// open it (the platform's PNG decoder does), so a claim too large never reaches one.
::swf::ImageSize HeaderSize(const std::vector<uint8_t>& image) {
  std::optional<::swf::ImageSize> size = ::swf::ReadImageSize(image);
  if (!size) throw DecodeError("no picture size in its header");
  CheckSize(size->width, size->height);
  return *size;
}

// JPEG, PNG or GIF through WIC, as premultiplied BGRA.
std::unique_ptr<DecodedBitmap> DecodeImage(const std::vector<uint8_t>& image) {
  if (image.empty() || image.size() > 0xFFFFFFFFu) throw DecodeError("no image");
  const ::swf::ImageSize claimed = HeaderSize(image);
  ComPtr<IWICImagingFactory> factory;
  Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWICImagingFactory, reinterpret_cast<void**>(factory.GetAddressOf())),
        "the imaging factory");
  ComPtr<IWICStream> stream;
  Check(factory->CreateStream(&stream), "CreateStream");
  Check(stream->InitializeFromMemory(const_cast<BYTE*>(image.data()), DWORD(image.size())),
        "InitializeFromMemory");
  ComPtr<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                         &decoder),
        "the image decoder");
  ComPtr<IWICBitmapFrameDecode> frame;
  Check(decoder->GetFrame(0, &frame), "GetFrame");
  UINT width = 0, height = 0;
  Check(frame->GetSize(&width, &height), "GetSize");
  // The decoder's size is the header's (a GIF image may be smaller than its screen).
  if (width > claimed.width || height > claimed.height)
    throw DecodeError("picture larger than its header says");
  CheckSize(width, height);
  ComPtr<IWICFormatConverter> converter;
  Check(factory->CreateFormatConverter(&converter), "CreateFormatConverter");
  Check(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                              nullptr, 0, WICBitmapPaletteTypeCustom),
        "the pixel format conversion");
  auto bitmap = std::make_unique<DecodedBitmap>(int(width), int(height));
  Check(converter->CopyPixels(nullptr, width * 4, width * height * 4,
                              reinterpret_cast<BYTE*>(bitmap->pixels())),
        "CopyPixels");
  bool opaque = true;
  for (size_t i = 0, n = size_t(width) * height; i < n && opaque; ++i)
    opaque = bitmap->pixels()[i] >> 24 == 0xFF;
  bitmap->set_opaque(opaque);
  return bitmap;
}

std::unique_ptr<DecodedBitmap> DecodeJpeg(const ::swf::DefineBitsJpeg& tag,
                                          const std::vector<uint8_t>& image) {
  auto bitmap = DecodeImage(image);
  // PNG and GIF carry their own transparency; JPEG3's alpha is for JPEG data alone.
  if (tag.version == 3 && tag.kind == ::swf::ImageKind::kJpeg && !tag.alphaZlib.empty()) {
    // One alpha byte per pixel; the colours are not premultiplied in the file.
    uint64_t count = uint64_t(bitmap->width()) * bitmap->height();
    std::vector<uint8_t> alpha = ::swf::Inflate(tag.alphaZlib, count, kMaxBitmapBytes);
    uint32_t* p = bitmap->pixels();
    for (uint64_t i = 0; i < count; ++i) {
      uint32_t c = p[i];
      p[i] = Premultiply(alpha[i], c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF);
    }
    bitmap->set_opaque(false);
  }
  return bitmap;
}

std::unique_ptr<DecodedBitmap> DecodeLossless(const ::swf::DefineBitsLossless& tag) {
  using Format = ::swf::DefineBitsLossless;
  CheckSize(tag.width, tag.height);
  std::vector<uint8_t> data = ::swf::InflateLossless(tag, kMaxBitmapBytes);
  auto bitmap = std::make_unique<DecodedBitmap>(tag.width, tag.height);
  bool alpha = tag.version == 2;
  bool opaque = true;
  const size_t w = tag.width, h = tag.height;
  uint32_t* out = bitmap->pixels();
  if (tag.format == Format::kPalette) {
    size_t entry = alpha ? 4 : 3;
    size_t tableBytes = size_t(tag.colorTableSize) * entry;
    std::vector<uint32_t> table(256, 0);
    for (size_t i = 0; i < tag.colorTableSize && i < 256; ++i) {
      const uint8_t* e = &data[i * entry];
      // Lossless2 tables are RGBA, premultiplied like its pixels.
      uint32_t a = alpha ? e[3] : 255;
      table[i] = a << 24 | uint32_t(e[0]) << 16 | uint32_t(e[1]) << 8 | e[2];
    }
    size_t stride = (w + 3) / 4 * 4;
    for (size_t y = 0; y < h; ++y)
      for (size_t x = 0; x < w; ++x) out[y * w + x] = table[data[tableBytes + y * stride + x]];
  } else if (tag.format == Format::kRgb555) {
    size_t stride = (w * 2 + 3) / 4 * 4;
    for (size_t y = 0; y < h; ++y) {
      for (size_t x = 0; x < w; ++x) {
        // Big-endian UB[1] pad, UB[5] red, green, blue.
        uint32_t v = uint32_t(data[y * stride + x * 2]) << 8 | data[y * stride + x * 2 + 1];
        uint32_t r = (v >> 10 & 31) * 255 / 31, g = (v >> 5 & 31) * 255 / 31,
                 b = (v & 31) * 255 / 31;
        out[y * w + x] = 0xFF000000u | r << 16 | g << 8 | b;
      }
    }
  } else {
    for (size_t i = 0; i < w * h; ++i) {
      const uint8_t* p = &data[i * 4];  // A (or X), R, G, B
      uint32_t a = alpha ? p[0] : 255;
      out[i] = a << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }
  }
  if (alpha) {
    for (size_t i = 0; i < w * h && opaque; ++i) opaque = out[i] >> 24 == 0xFF;
    // Premultiplied colours can never exceed their alpha; a file that says otherwise is clamped.
    for (size_t i = 0; i < w * h; ++i) {
      uint32_t c = out[i], a = c >> 24;
      uint32_t r = std::min(c >> 16 & 0xFF, a), g = std::min(c >> 8 & 0xFF, a),
               b = std::min(c & 0xFF, a);
      out[i] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  bitmap->set_opaque(opaque);
  return bitmap;
}

}  // namespace

DecodedBitmap::DecodedBitmap(int width, int height) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap_ || !bits) throw DecodeError("CreateDIBSection failed");
  pixels_ = static_cast<uint32_t*>(bits);
}

DecodedBitmap::~DecodedBitmap() {
  if (bitmap_) DeleteObject(bitmap_);
}

uint64_t BitmapProcessTotal() { return g_processTotal.load(); }

BitmapCache::~BitmapCache() {
  bitmaps_.clear();
  g_processTotal -= total_;
}

void BitmapCache::Reserve(uint64_t bytes) {
  if (bytes > kMaxBitmapTotal - total_) throw DecodeError("bitmaps too large in all");
  uint64_t now = g_processTotal.load();
  do {
    if (bytes > kMaxBitmapProcessTotal - now)
      throw DecodeError("bitmaps too large for the process in all");
  } while (!g_processTotal.compare_exchange_weak(now, now + bytes));
  total_ += bytes;
}

void BitmapCache::Release(uint64_t bytes) {
  total_ -= bytes;
  g_processTotal -= bytes;
}

const DecodedBitmap* BitmapCache::Get(uint16_t id, const ::swf::Tag* tag, std::wstring* error,
                                      std::span<const uint8_t> jpegTables) {
  auto found = bitmaps_.find(id);
  if (found != bitmaps_.end()) return found->second.get();
  std::unique_ptr<DecodedBitmap> bitmap;
  try {
    // The pixels are counted from the headers, before a byte of them is decoded or copied.
    uint64_t claimed = 0;
    std::vector<uint8_t> image;
    const auto* jpeg = tag ? std::get_if<::swf::DefineBitsJpeg>(tag) : nullptr;
    const auto* lossless = tag ? std::get_if<::swf::DefineBitsLossless>(tag) : nullptr;
    if (jpeg) {
      image = ::swf::StandaloneImage(*jpeg, jpegTables);
      ::swf::ImageSize size = HeaderSize(image);
      claimed = PixelBytes(size.width, size.height);
    } else if (lossless) {
      CheckSize(lossless->width, lossless->height);
      claimed = PixelBytes(lossless->width, lossless->height);
    } else {
      throw DecodeError("not a bitmap");
    }
    Reserve(claimed);
    try {
      bitmap = jpeg ? DecodeJpeg(*jpeg, image) : DecodeLossless(*lossless);
    } catch (...) {
      Release(claimed);
      throw;
    }
    Release(claimed - PixelBytes(bitmap->width(), bitmap->height()));
  } catch (const std::exception& e) {
    if (error) *error = L"bitmap " + std::to_wstring(id) + L": " + Utf8ToWide(e.what());
    bitmap.reset();
  }
  // A failure is kept too: it is not tried again on every paint.
  return (bitmaps_[id] = std::move(bitmap)).get();
}

}  // namespace standin
