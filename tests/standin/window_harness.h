// The pieces that put the stand-in (flash_test.ocx) into a real window of the test's own, shared
// by the drawing test and the paint benchmark: a plain in-place site, an event sink, pictures
// encoded by the platform's imaging, a temporary folder of movies.
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <wincodec.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shockwave_flash.h"

namespace standintest {

using Bytes = std::vector<uint8_t>;

inline std::wstring OcxPath() {
  std::wstring path = L"Z:";
  for (char c : std::string(STANDIN_OCX_PATH)) path += c == '/' ? L'\\' : wchar_t(c);
  return path;
}

inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

template <class T>
struct Ref {
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  void** Out() { return reinterpret_cast<void**>(&p); }
  T* p = nullptr;
};

template <class... I>
class StackObject : public I... {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
};

// Records FSCommands as "command|args" and the last ready state.
class Sink final : public StackObject<IDispatch> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != standin::kDiidShockwaveFlashEvents)
      return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    if (id == standin::kDispidReadyStateChange && p->cArgs == 1) readyState = p->rgvarg[0].lVal;
    if (id == standin::kDispidFSCommand && p->cArgs == 2)
      commands.push_back(std::wstring(p->rgvarg[1].bstrVal) + L"|" + p->rgvarg[0].bstrVal);
    return S_OK;
  }
  long readyState = -1;
  std::vector<std::wstring> commands;
};

class Site final : public StackObject<IOleClientSite, IOleInPlaceSite> {
 public:
  explicit Site(HWND window) : window_(window) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *ppv = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *ppv = static_cast<IOleInPlaceSite*>(this);
    else
      return E_NOINTERFACE;
    return S_OK;
  }
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** mk) override {
    *mk = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  STDMETHODIMP GetWindow(HWND* w) override {
    *w = window_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override {
    ++uiActivations;
    return S_OK;
  }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
    *frame = nullptr;
    *doc = nullptr;
    GetClientRect(window_, pos);
    *clip = *pos;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
  int uiActivations = 0;

 private:
  HWND window_;
};

inline std::map<std::wstring, std::wstring> ParseReport(BSTR report) {
  std::map<std::wstring, std::wstring> out;
  std::wstring text = report ? report : L"";
  SysFreeString(report);
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(pos, end - pos);
    size_t eq = line.find(L'=');
    if (eq != std::wstring::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    pos = end + 1;
  }
  return out;
}

inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// Pictures encoded by the platform's own imaging, as a page maker would put them in a movie.
inline Bytes Encode(const GUID& container, int width, int height,
                    const std::vector<uint32_t>& bgra) {
  Ref<IWICImagingFactory> factory;
  CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   factory.Out());
  Ref<IStream> stream;
  CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(stream.Out()));
  Ref<IWICBitmapEncoder> encoder;
  factory->CreateEncoder(container, nullptr, reinterpret_cast<IWICBitmapEncoder**>(encoder.Out()));
  encoder->Initialize(stream.p, WICBitmapEncoderNoCache);
  Ref<IWICBitmapFrameEncode> frame;
  Ref<IPropertyBag2> options;
  encoder->CreateNewFrame(reinterpret_cast<IWICBitmapFrameEncode**>(frame.Out()),
                          reinterpret_cast<IPropertyBag2**>(options.Out()));
  frame->Initialize(options.p);
  frame->SetSize(width, height);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  frame->SetPixelFormat(&format);
  std::vector<uint8_t> rows;
  UINT stride = (width * 3 + 3) / 4 * 4;
  rows.resize(size_t(stride) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        rows[y * stride + x * 3 + c] = uint8_t(bgra[y * width + x] >> (8 * c));
  frame->WritePixels(height, stride, UINT(rows.size()), rows.data());
  frame->Commit();
  encoder->Commit();
  HGLOBAL memory = nullptr;
  GetHGlobalFromStream(stream.p, &memory);
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  auto* data = static_cast<uint8_t*>(GlobalLock(memory));
  Bytes out(data, data + stat.cbSize.QuadPart);
  GlobalUnlock(memory);
  return out;
}

class Folder {
 public:
  Folder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"standin-draw-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter_++);
    CreateDirectoryW(dir_.c_str(), nullptr);
  }
  ~Folder() {
    for (const auto& f : files_) DeleteFileW(f.c_str());
    for (auto d = folders_.rbegin(); d != folders_.rend(); ++d) RemoveDirectoryW(d->c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  std::wstring Write(const std::wstring& name, const Bytes& bytes) {
    std::wstring path = dir_ + L"\\" + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    files_.push_back(path);
    return Url(path);
  }
  // A file of `size` zero bytes, made without writing them.
  std::wstring Sparse(const std::wstring& name, LONGLONG size) {
    std::wstring path = dir_ + L"\\" + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = size;
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    CloseHandle(h);
    files_.push_back(path);
    return Url(path);
  }
  void Subfolder(const std::wstring& name) {
    folders_.push_back(dir_ + L"\\" + name);
    CreateDirectoryW(folders_.back().c_str(), nullptr);
  }
  static std::wstring Url(const std::wstring& path) {
    std::wstring url = L"file:///";
    for (wchar_t c : path) url += c == L'\\' ? L'/' : c;
    return url;
  }

 private:
  static inline int counter_ = 0;
  std::wstring dir_;
  std::vector<std::wstring> files_, folders_;
};

}  // namespace standintest
