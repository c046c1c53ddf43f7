// The Windows build's imaging: the platform's WIC decoders and encoders.
#include <wincodec.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "core/error.h"
#include "tools/imaging_codecs.h"

namespace pageturn {

namespace {

// One COM reference, released when it goes.
template <typename T>
class TComRef {
 public:
  TComRef() = default;
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;
  TComRef(TComRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ~TComRef() {
    if (p_) p_->Release();
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** put() {
    if (p_) p_->Release();
    p_ = nullptr;
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(hr));
    throw Error(std::string(what) + " failed (" + code + ")");
  }
}

// COM on this thread for as long as the work takes; one already there is kept as it is.
class TComScope {
 public:
  TComScope() : started_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~TComScope() {
    if (started_) CoUninitialize();
  }

 private:
  bool started_;
};

TComRef<IWICImagingFactory> Factory() {
  TComRef<IWICImagingFactory> factory;
  Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWICImagingFactory, reinterpret_cast<void**>(factory.put())),
        "the imaging factory");
  return factory;
}

UINT QueryUnsigned(IWICMetadataQueryReader* reader, const wchar_t* name, UINT otherwise) {
  PROPVARIANT value;
  PropVariantInit(&value);
  UINT result = otherwise;
  if (reader && SUCCEEDED(reader->GetMetadataByName(name, &value))) {
    if (value.vt == VT_UI2) result = value.uiVal;
    if (value.vt == VT_UI1) result = value.bVal;
    if (value.vt == VT_UI4) result = value.ulVal;
  }
  PropVariantClear(&value);
  return result;
}

void CopyInto(IWICImagingFactory* factory, IWICBitmapSource* source, REFWICPixelFormatGUID format,
              UINT width, UINT height, std::uint8_t* pixels) {
  TComRef<IWICFormatConverter> converter;
  Check(factory->CreateFormatConverter(converter.put()), "CreateFormatConverter");
  Check(converter->Initialize(source, format, WICBitmapDitherTypeNone, nullptr, 0,
                              WICBitmapPaletteTypeCustom),
        "the pixel format conversion");
  Check(converter->CopyPixels(nullptr, width * 4, width * height * 4, pixels), "CopyPixels");
}

}  // namespace

TImage DecodeWithCodecs(std::span<const std::uint8_t> bytes, std::uint32_t, std::uint32_t) {
  auto startsWith = [&](const char* magic, std::size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
  };
  const bool gif = startsWith("GIF87a", 6) || startsWith("GIF89a", 6);
  if (!startsWith("\xFF\xD8\xFF", 3) && !startsWith("\x89PNG\r\n\x1A\n", 8) && !gif)
    throw Error("not a JPEG, PNG or GIF picture");
  if (bytes.size() > 0x7FFFFFFF) throw Error("picture too large");
  const TComScope com;
  TComRef<IWICImagingFactory> factory = Factory();
  TComRef<IWICStream> stream;
  Check(factory->CreateStream(stream.put()), "CreateStream");
  Check(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), DWORD(bytes.size())),
        "reading the picture");
  TComRef<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                         decoder.put()),
        "decoding the picture");
  TComRef<IWICBitmapFrameDecode> frame;
  Check(decoder->GetFrame(0, frame.put()), "decoding the picture");
  UINT width = 0, height = 0;
  Check(frame->GetSize(&width, &height), "decoding the picture");
  CheckDecodableSize(width, height);
  WICPixelFormatGUID format{};
  Check(frame->GetPixelFormat(&format), "decoding the picture");

  TImage image;
  if (gif) {
    // The first frame on its logical screen, as the native decoder gives it.
    TComRef<IWICMetadataQueryReader> screen, descriptor;
    decoder->GetMetadataQueryReader(screen.put());
    frame->GetMetadataQueryReader(descriptor.put());
    image.width = QueryUnsigned(screen.get(), L"/logscrdesc/Width", width);
    image.height = QueryUnsigned(screen.get(), L"/logscrdesc/Height", height);
    CheckDecodableSize(image.width, image.height);
    const UINT left = QueryUnsigned(descriptor.get(), L"/imgdesc/Left", 0);
    const UINT top = QueryUnsigned(descriptor.get(), L"/imgdesc/Top", 0);
    std::vector<std::uint8_t> framePixels(std::size_t(width) * height * 4);
    CopyInto(factory.get(), frame.get(), GUID_WICPixelFormat32bppRGBA, width, height,
             framePixels.data());
    image.rgba.assign(std::size_t(image.width) * image.height * 4, 0);
    for (UINT y = 0; y < height && top + y < image.height; ++y)
      for (UINT x = 0; x < width && left + x < image.width; ++x)
        std::memcpy(&image.rgba[(std::size_t(top + y) * image.width + left + x) * 4],
                    &framePixels[(std::size_t(y) * width + x) * 4], 4);
    return image;
  }
  image.width = width;
  image.height = height;
  image.rgba.resize(std::size_t(width) * height * 4);
  if (IsEqualGUID(format, GUID_WICPixelFormat32bppCMYK)) {
    // The decoder gives ink amounts (Adobe's complements already undone).
    Check(frame->CopyPixels(nullptr, width * 4, width * height * 4, image.rgba.data()),
          "CopyPixels");
    CmykToRgba(image.rgba.data(), std::size_t(width) * height);
    return image;
  }
  CopyInto(factory.get(), frame.get(), GUID_WICPixelFormat32bppRGBA, width, height,
           image.rgba.data());
  return image;
}

namespace {

// Encodes image through the container's encoder from 24-bit BGR or 32-bit BGRA pixels.
std::vector<std::uint8_t> Encode(const TImage& image, REFGUID container, bool alpha,
                                 float quality) {
  if (image.width == 0 || image.height == 0 ||
      image.rgba.size() != std::size_t(image.width) * image.height * 4)
    throw Error("cannot encode a picture without its pixels");
  const std::size_t bytesPerPixel = alpha ? 4 : 3;
  const std::size_t stride = (image.width * bytesPerPixel + 3) / 4 * 4;
  std::vector<std::uint8_t> pixels(stride * image.height);
  for (std::size_t y = 0; y < image.height; ++y) {
    for (std::size_t x = 0; x < image.width; ++x) {
      const std::uint8_t* from = &image.rgba[(y * image.width + x) * 4];
      std::uint8_t* to = &pixels[y * stride + x * bytesPerPixel];
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      if (alpha) to[3] = from[3];
    }
  }
  const TComScope com;
  TComRef<IWICImagingFactory> factory = Factory();
  TComRef<IStream> memory;
  Check(CreateStreamOnHGlobal(nullptr, TRUE, memory.put()), "CreateStreamOnHGlobal");
  TComRef<IWICBitmapEncoder> encoder;
  Check(factory->CreateEncoder(container, nullptr, encoder.put()), "the picture encoder");
  Check(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache), "the picture encoder");
  TComRef<IWICBitmapFrameEncode> frame;
  TComRef<IPropertyBag2> options;
  Check(encoder->CreateNewFrame(frame.put(), options.put()), "the picture encoder");
  if (quality > 0 && options.get()) {
    PROPBAG2 name{};
    name.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = quality;
    options->Write(1, &name, &value);  // an encoder without the option keeps its own default
  }
  Check(frame->Initialize(options.get()), "the picture encoder");
  Check(frame->SetSize(image.width, image.height), "the picture encoder");
  WICPixelFormatGUID format = alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
  Check(frame->SetPixelFormat(&format), "the picture encoder");
  if (!IsEqualGUID(format, alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR))
    throw Error("the picture encoder takes no such pixels");
  Check(frame->WritePixels(image.height, UINT(stride), UINT(pixels.size()), pixels.data()),
        "writing the picture");
  Check(frame->Commit(), "writing the picture");
  Check(encoder->Commit(), "writing the picture");
  STATSTG stat{};
  Check(memory->Stat(&stat, STATFLAG_NONAME), "writing the picture");
  std::vector<std::uint8_t> out(std::size_t(stat.cbSize.QuadPart));
  LARGE_INTEGER start{};
  Check(memory->Seek(start, STREAM_SEEK_SET, nullptr), "writing the picture");
  ULONG read = 0;
  Check(memory->Read(out.data(), ULONG(out.size()), &read), "writing the picture");
  out.resize(read);
  return out;
}

}  // namespace

std::vector<std::uint8_t> EncodeJpeg(const TImage& image, int quality) {
  return Encode(image, GUID_ContainerFormatJpeg, false, float(quality) / 100.0f);
}

std::vector<std::uint8_t> EncodePng(const TImage& image) {
  bool opaque = true;
  for (std::size_t i = 3; i < image.rgba.size() && opaque; i += 4) opaque = image.rgba[i] == 255;
  return Encode(image, GUID_ContainerFormatPng, !opaque, 0);
}

}  // namespace pageturn
