// How long the stand-in takes to show a page: a 1024 x 768 JPEG page movie, as the book maker
// writes it, painted into a real window at 1:1 and scaled to 800 x 600. Prints figures only.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "standin_test_surface.h"
#include "swf/swf_writer.h"
#include "tools/book_movies.h"
#include "window_harness.h"

using namespace standintest;

namespace {

double Now() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) * 1000.0 / double(f.QuadPart);
}

// Milliseconds of one full repaint of the window, painted at once.
double Repaint(HWND window) {
  double start = Now();
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  GdiFlush();
  return Now() - start;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HMODULE module = LoadLibraryW(OcxPath().c_str());
  if (!module) {
    std::printf("bench_standin_paint: cannot load %s\n", STANDIN_OCX_PATH);
    return 1;
  }
  const int width = 1024, height = 768;
  std::vector<uint32_t> pixels(size_t(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels[size_t(y) * width + x] = uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | 0x40;
  Bytes jpeg = Encode(GUID_ContainerFormatJpeg, width, height, pixels);
  Folder folder;
  std::wstring url = folder.Write(
      L"page.swf",
      swf::WriteMovie(pageturn::PageMovie(
          jpeg, {pageturn::TPictureKind::kJpeg, uint32_t(width), uint32_t(height)},
          {.stageWidth = uint32_t(width), .stageHeight = uint32_t(height), .pageNumbers = false})));

  HWND window = CreateWindowExW(0, L"STATIC", L"bench", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                                0, width, height, nullptr, nullptr, nullptr, nullptr);
  Site site(window);
  Sink sink;
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  Ref<IClassFactory> factory;
  Ref<IOleObject> object;
  Ref<standin::IShockwaveFlash> flash;
  Ref<IConnectionPointContainer> points;
  Ref<IConnectionPoint> events;
  DWORD cookie = 0;
  if (!get || FAILED(get(standin::kClsidShockwaveFlash, IID_IClassFactory, factory.Out())) ||
      FAILED(factory->CreateInstance(nullptr, IID_IOleObject, object.Out()))) {
    std::printf("bench_standin_paint: no object\n");
    return 1;
  }
  object->SetClientSite(&site);
  object->QueryInterface(standin::kIidShockwaveFlash, flash.Out());
  object->QueryInterface(IID_IConnectionPointContainer, points.Out());
  points->FindConnectionPoint(standin::kDiidShockwaveFlashEvents,
                              reinterpret_cast<IConnectionPoint**>(events.Out()));
  events->Advise(&sink, &cookie);
  RECT r{0, 0, width, height};
  object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, window, &r);

  BSTR movie = SysAllocString(url.c_str());
  double loadStart = Now();
  flash->put_Movie(movie);
  SysFreeString(movie);
  PumpUntil([&] { return sink.readyState == 4; }, 30000);
  double loaded = Now() - loadStart;
  double first = Repaint(window);
  const int rounds = 40;
  double sum = 0;
  for (int i = 0; i < rounds; ++i) sum += Repaint(window);
  SetWindowPos(window, nullptr, 0, 0, 800, 600, SWP_NOZORDER | SWP_NOACTIVATE);
  Ref<IOleInPlaceObject> inPlace;
  object->QueryInterface(IID_IOleInPlaceObject, inPlace.Out());
  RECT small{0, 0, 800, 600};
  inPlace->SetObjectRects(&small, &small);
  Repaint(window);
  double scaled = 0;
  for (int i = 0; i < rounds; ++i) scaled += Repaint(window);

  // A 2-megapixel page (a phone photo's share of a book) shown in a 1024 x 768 window: filtered
  // once into the window's size, then drawn from that copy.
  const int bigWidth = 1632, bigHeight = 1224;
  std::vector<uint32_t> bigPixels(size_t(bigWidth) * bigHeight);
  for (int y = 0; y < bigHeight; ++y)
    for (int x = 0; x < bigWidth; ++x)
      bigPixels[size_t(y) * bigWidth + x] =
          uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | uint32_t((x ^ y) & 0xFF);
  Bytes bigJpeg = Encode(GUID_ContainerFormatJpeg, bigWidth, bigHeight, bigPixels);
  std::wstring bigUrl = folder.Write(
      L"big.swf",
      swf::WriteMovie(pageturn::PageMovie(
          bigJpeg, {pageturn::TPictureKind::kJpeg, uint32_t(bigWidth), uint32_t(bigHeight)},
          {.stageWidth = uint32_t(bigWidth), .stageHeight = uint32_t(bigHeight)})));
  SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  inPlace->SetObjectRects(&r, &r);
  sink.readyState = -1;
  movie = SysAllocString(bigUrl.c_str());
  flash->put_Movie(movie);
  SysFreeString(movie);
  PumpUntil([&] { return sink.readyState == 4; }, 30000);
  const double bigFirst = Repaint(window);
  double bigCached = 0;
  for (int i = 0; i < rounds; ++i) bigCached += Repaint(window);

  std::printf("bench_standin_paint: page of %dx%d JPEG (%zu bytes)\n", width, height, jpeg.size());
  std::printf("  load to ready state 4     %8.2f ms\n", loaded);
  std::printf("  first repaint after load  %8.2f ms\n", first);
  std::printf("  repaint at 1:1            %8.2f ms (mean of %d)\n", sum / rounds, rounds);
  std::printf("  repaint scaled to 800x600 %8.2f ms (mean of %d)\n", scaled / rounds, rounds);
  std::printf("page of %dx%d JPEG (%zu bytes) in a %dx%d window, filtered\n", bigWidth, bigHeight,
              bigJpeg.size(), width, height);
  std::printf("  first repaint (decode and filter) %8.2f ms\n", bigFirst);
  std::printf("  repaint from the scaled copy      %8.2f ms (mean of %d)\n", bigCached / rounds,
              rounds);

  events->Unadvise(cookie);
  object->Close(OLECLOSE_NOSAVE);
  object->SetClientSite(nullptr);
  DestroyWindow(window);
  return 0;
}
