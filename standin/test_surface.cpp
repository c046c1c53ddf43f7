// IStandInTestSurface: each operation makes exactly the platform calls the runtime makes at
// that call site, on the thread the test names, and reports what came back.
#include "com_support.h"

#include <mmsystem.h>

#include <memory>

#include "flash_object.h"
#include "module.h"
#include "url_fetch.h"
#include "url_resolve.h"

namespace standin {

namespace {

const wchar_t* ThreadName(LONG thread) {
  switch (thread) {
    case STANDIN_ON_CALLER: return L"caller";
    case STANDIN_ON_WORKER: return L"worker";
    case STANDIN_ON_OBJECT: return L"object";
    default: return L"?";
  }
}

HRESULT ReturnBytes(const std::vector<uint8_t>& bytes, BSTR* out) {
  if (!out) return S_OK;
  *out = SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()), UINT(bytes.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

void AddCurrentThread(Report& report, LONG thread) {
  report.Add(L"thread", ThreadName(thread));
  report.Add(L"thread_id", long(GetCurrentThreadId()));
}

// An object made on a thread of its own, which then runs that thread's message loop.
struct ObjectThreadStart {
  const IID* riid;
  void** ppv;
  HRESULT result = E_FAIL;
  ScopedHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

DWORD WINAPI ObjectThread(void* param) {
  auto* start = static_cast<ObjectThreadStart*>(param);
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  start->result = Guard([&] {
    ComPtr<FlashObject> object = Adopt(new FlashObject());
    object->SetOwnsThread();
    return object->QueryInterface(*start->riid, start->ppv);
  });
  bool run = SUCCEEDED(start->result);
  SetEvent(start->ready.get());  // `start` belongs to the caller from here on
  if (run) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (SUCCEEDED(init)) CoUninitialize();
  ModuleRelease();
  return 0;
}

LRESULT CALLBACK ProbeWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    if (cs->lpCreateParams) *static_cast<bool*>(cs->lpCreateParams) = true;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

template <class Proc>
Proc Kernel32Proc(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel ? reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(kernel, name)))
                : nullptr;
}

class TestSurface final
    : public SingleInterfaceObject<IStandInTestSurface, IID_IStandInTestSurface> {
 public:
  explicit TestSurface(FlashObject* bound) : bound_(bound) { ModuleAddRef(); }

  STDMETHODIMP CreateObject(LONG thread, REFIID riid, void** object) override {
    return Guard([&]() -> HRESULT {
      if (!object) return E_POINTER;
      *object = nullptr;
      if (thread == STANDIN_ON_WORKER) {
        ObjectThreadStart start;
        start.riid = &riid;
        start.ppv = object;
        ModuleAddRef();
        ScopedHandle t(CreateThread(nullptr, 0, ObjectThread, &start, 0, nullptr));
        if (!t) {
          ModuleRelease();
          return E_FAIL;
        }
        WaitPumping(start.ready.get(), INFINITE);
        return start.result;
      }
      return RunOn(thread, [&] {
        ComPtr<FlashObject> o = Adopt(new FlashObject());
        return o->QueryInterface(riid, object);
      });
    });
  }

  STDMETHODIMP BindUrl(LONG thread, LPCWSTR url, LONG timeoutMs, BSTR* bytes,
                       BSTR* report) override {
    return Guard([&]() -> HRESULT {
      Clear(bytes, report);
      if (!url) return E_POINTER;
      FetchResult result;
      Report r;
      HRESULT hr = RunOn(thread, [&] {
        AddCurrentThread(r, thread);
        result = FetchUrl(url, nullptr, timeoutMs < 0 ? INFINITE : DWORD(timeoutMs), {});
        return S_OK;
      });
      if (FAILED(hr)) return hr;
      r.Add(L"url", url);
      r.Add(L"hr", Hex(result.bindResult));
      r.Add(L"stopped", result.stopped ? 1 : 0);
      r.Add(L"stop_hr", Hex(result.stopResult));
      r.Add(L"stalled", result.stalled ? 1 : 0);
      r.Add(L"response_code", result.responseCode);
      r.Add(L"header", EscapeLineBreaks(result.header));
      r.Add(L"sequence", result.sequence.Join(L","));
      r.Add(L"bytes", (long long)result.bytes.size());
      ThrowIfFailed(ReturnBytes(result.bytes, bytes));
      return r.Return(report);
    });
  }

  STDMETHODIMP ResolveUrl(LPCWSTR relative, BSTR* absolute) override {
    return Guard([&]() -> HRESULT {
      if (!absolute) return E_POINTER;
      *absolute = nullptr;
      std::wstring rel = relative ? relative : L"";
      std::wstring out = rel;
      if (bound_) {
        HRESULT hr = bound_->RunOnOwnerThread([&] {
          out = bound_->ResolveRequest(0, rel);
          return S_OK;
        });
        if (FAILED(hr)) return hr;
      }
      return ReturnBstr(out, absolute);
    });
  }

  STDMETHODIMP ReadFile(LONG thread, LPCWSTR path, LONG offset, BSTR* bytes,
                        BSTR* report) override {
    return Guard([&]() -> HRESULT {
      Clear(bytes, report);
      if (!path) return E_POINTER;
      std::vector<uint8_t> data;
      Report r;
      HRESULT hr = RunOn(thread, [&] {
        AddCurrentThread(r, thread);
        ReadWholeFile(path, offset, data, r);
        return S_OK;
      });
      if (FAILED(hr)) return hr;
      ThrowIfFailed(ReturnBytes(data, bytes));
      return r.Return(report);
    });
  }

  STDMETHODIMP FireEvent(LONG thread, LONG dispid, LPCWSTR text1, LPCWSTR text2, LONG number,
                         BSTR* report) override {
    return Guard([&]() -> HRESULT {
      if (report) *report = nullptr;
      if (!bound_) return E_UNEXPECTED;
      if (dispid != kDispidReadyStateChange && dispid != kDispidProgress &&
          dispid != kDispidFSCommand && dispid != kDispidFlashCall)
        return E_INVALIDARG;
      std::wstring a = text1 ? text1 : L"", b = text2 ? text2 : L"";
      return RunReported(thread, report, [&](Report& r) {
        HRESULT last = S_OK;
        std::wstring answer;
        int sinks = bound_->FireEvent(dispid, a, b, number, &last, &answer);
        r.Add(L"dispid", dispid);
        r.Add(L"sinks", sinks);
        r.Add(L"hr", Hex(last));
        r.Add(L"return_value", answer);
      });
    });
  }

  STDMETHODIMP RegisterWindowClass(LONG thread, LPCWSTR className, BSTR* report) override {
    return Guard([&]() -> HRESULT {
      if (report) *report = nullptr;
      if (!className || !*className) return E_INVALIDARG;
      return RunReported(thread, report, [&](Report& r) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ProbeWindowProc;
        wc.hInstance = g_module;
        wc.lpszClassName = className;
        ATOM atom = RegisterClassExW(&wc);
        r.Add(L"atom", atom);
        r.Add(L"error", atom ? 0 : long(GetLastError()));
        bool created = false;
        HWND window = CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      g_module, &created);
        r.Add(L"window", window ? 1 : 0);
        wchar_t name[256] = L"";
        if (window) GetClassNameW(window, name, 256);
        r.Add(L"window_class", name);
        r.Add(L"wndproc_called", created ? 1 : 0);
        if (window) DestroyWindow(window);
      });
    });
  }

  STDMETHODIMP LoadCursorResource(LONG thread, LONG id, LPCSTR name, BSTR* report) override {
    return Guard([&]() -> HRESULT {
      if (report) *report = nullptr;
      return RunReported(thread, report, [&](Report& r) {
        HCURSOR cursor = LoadCursorA(g_module, name ? name : MAKEINTRESOURCEA(id));
        r.Add(L"cursor", cursor ? 1 : 0);
        ICONINFO info{};
        if (cursor && GetIconInfo(cursor, &info)) {
          BITMAP bm{};
          GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
          r.Add(L"width", bm.bmWidth);
          r.Add(L"height", info.hbmColor ? bm.bmHeight : bm.bmHeight / 2);
          if (info.hbmColor) DeleteObject(info.hbmColor);
          if (info.hbmMask) DeleteObject(info.hbmMask);
        }
      });
    });
  }

  STDMETHODIMP LoadMenuResource(LONG thread, LONG id, LPCSTR name, BSTR* report) override {
    return Guard([&]() -> HRESULT {
      if (report) *report = nullptr;
      return RunReported(thread, report, [&](Report& r) {
        HMENU menu = LoadMenuA(g_module, name ? name : MAKEINTRESOURCEA(id));
        r.Add(L"menu", menu ? 1 : 0);
        if (!menu) return;
        DescribeMenu(menu, L"item", r);
        DestroyMenu(menu);
      });
    });
  }

  STDMETHODIMP LookupProc(LONG thread, LPCSTR module, LPCSTR name, BSTR* report) override {
    return Guard([&]() -> HRESULT {
      if (report) *report = nullptr;
      if (!module || !name) return E_POINTER;
      return RunReported(thread, report, [&](Report& r) {
        HMODULE h = GetModuleHandleA(module);
        bool loaded = false;
        if (!h) {
          h = LoadLibraryA(module);
          loaded = h != nullptr;
        }
        r.Add(L"module", h ? 1 : 0);
        FARPROC proc = h ? GetProcAddress(h, name) : nullptr;
        r.Add(L"proc", proc ? 1 : 0);
        r.Add(L"address", Hex(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(proc))));
        if (loaded) FreeLibrary(h);
      });
    });
  }

  STDMETHODIMP PrepareCode(LONG thread, LONG flags, BSTR* report) override {
    return Guard([&]() -> HRESULT {
      if (report) *report = nullptr;
      return RunReported(thread, report, [&](Report& r) {
        RunCodeProbe(flags, r);
      });
    });
  }

  STDMETHODIMP PlaySound(LONG thread, BSTR* report) override {
    return Guard([&]() -> HRESULT {
      if (report) *report = nullptr;
      return RunReported(thread, report, [&](Report& r) {
        RunSoundProbe(r);
      });
    });
  }

  STDMETHODIMP GetReport(BSTR* report) override {
    return Guard([&]() -> HRESULT {
      if (report) *report = nullptr;
      Report r;
      r.Add(L"bound", bound_ ? 1 : 0);
      // Objects, factories, surfaces and worker threads of the module that are still alive.
      r.Add(L"live", g_liveCount);
      if (bound_) {
        HRESULT hr = bound_->RunOnOwnerThread([&] {
          bound_->FillReport(r);
          return S_OK;
        });
        if (FAILED(hr)) return hr;
      }
      return r.Return(report);
    });
  }

 private:
  ~TestSurface() override { ModuleRelease(); }

  static void Clear(BSTR* bytes, BSTR* report) {
    if (bytes) *bytes = nullptr;
    if (report) *report = nullptr;
  }

  // Runs `work` on `thread` with a report that begins with that thread, and returns the report.
  HRESULT RunReported(LONG thread, BSTR* report, const std::function<void(Report&)>& work) {
    Report r;
    HRESULT hr = RunOn(thread, [&] {
      AddCurrentThread(r, thread);
      work(r);
      return S_OK;
    });
    if (FAILED(hr)) return hr;
    return r.Return(report);
  }

  HRESULT RunOn(LONG thread, const std::function<HRESULT()>& work) {
    switch (thread) {
      case STANDIN_ON_CALLER: return work();
      case STANDIN_ON_WORKER: return RunOnWorker(work);
      case STANDIN_ON_OBJECT: return bound_ ? bound_->RunOnOwnerThread(work) : work();
      default: return E_INVALIDARG;
    }
  }

  static void ReadWholeFile(const std::wstring& requested, LONG offset, std::vector<uint8_t>& data,
                            Report& r) {
    std::wstring path = requested.rfind(L"file:", 0) == 0 ? UrlToFilePath(requested) : requested;
    r.Add(L"path", path);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    r.Add(L"handle_valid", h != INVALID_HANDLE_VALUE ? 1 : 0);
    if (h == INVALID_HANDLE_VALUE) {
      r.Add(L"error", long(GetLastError()));
      return;
    }
    // The handle may be one the host made up: only CloseHandle may end it, exactly once.
    struct Closer {
      HANDLE h;
      bool closed = false;
      ~Closer() {
        if (!closed) CloseHandle(h);
      }
    } closer{h};

    DWORD high = 0xDEADBEEF;
    DWORD low = GetFileSize(h, &high);
    r.Add(L"size", (long long)(uint64_t(high) << 32 | low));
    using SizeExProc = BOOL(WINAPI*)(HANDLE, PLARGE_INTEGER);
    using PointerExProc = BOOL(WINAPI*)(HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD);
    auto sizeEx = Kernel32Proc<SizeExProc>("GetFileSizeEx");
    LARGE_INTEGER size{};
    r.Add(L"size_ex", sizeEx && sizeEx(h, &size) ? (long long)size.QuadPart : -1);
    DWORD seek = SetFilePointer(h, offset, nullptr, FILE_BEGIN);
    r.Add(L"seek", (long long)seek);
    int reads = 0;
    for (;;) {
      uint8_t buffer[4096];
      DWORD got = 0;
      BOOL ok = ::ReadFile(h, buffer, sizeof buffer, &got, nullptr);
      ++reads;
      if (!ok || got == 0) break;
      data.insert(data.end(), buffer, buffer + got);
      if (reads > 1 << 16) break;  // 256 MiB: far beyond any test file
    }
    r.Add(L"reads", reads);
    r.Add(L"bytes", (long long)data.size());
    auto pointerEx = Kernel32Proc<PointerExProc>("SetFilePointerEx");
    LARGE_INTEGER zero{}, position{};
    position.QuadPart = -1;
    if (pointerEx) pointerEx(h, zero, &position, FILE_CURRENT);
    r.Add(L"position", (long long)position.QuadPart);
    closer.closed = true;
    r.Add(L"closed", CloseHandle(h) ? 1 : 0);
  }

  static void DescribeMenu(HMENU menu, const std::wstring& prefix, Report& r) {
    int count = GetMenuItemCount(menu);
    r.Add(prefix == L"item" ? std::wstring(L"items") : prefix + L"_items", count);
    for (int i = 0; i < count; ++i) {
      wchar_t text[128] = L"";
      GetMenuStringW(menu, UINT(i), text, 128, MF_BYPOSITION);
      std::wstring key = prefix + std::to_wstring(i);
      if (prefix != L"item") key = prefix + L"_" + std::to_wstring(i);
      r.Add(key, text);
      if (HMENU sub = GetSubMenu(menu, i)) DescribeMenu(sub, key, r);
    }
  }

  static void RunCodeProbe(LONG flags, Report& r) {
    // mov eax, 0x57A4D1E5; ret
    static const uint8_t kCode[] = {0xB8, 0xE5, 0xD1, 0xA4, 0x57, 0xC3};
    const SIZE_T kPage = 4096;
    void* region = nullptr;
    void* page = nullptr;
    if (flags & STANDIN_CODE_GUARD) {
      region = VirtualAlloc(nullptr, 16 * kPage, MEM_RESERVE, PAGE_NOACCESS);
      if (region)
        page = VirtualAlloc(region, kPage, MEM_COMMIT, PAGE_EXECUTE_READWRITE | PAGE_GUARD);
    } else {
      page = region = VirtualAlloc(nullptr, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    }
    r.Add(L"alloc", page ? 1 : 0);
    if (!page) {
      if (region) VirtualFree(region, 0, MEM_RELEASE);
      return;
    }
    MEMORY_BASIC_INFORMATION mbi{};
    VirtualQuery(page, &mbi, sizeof mbi);
    r.Add(L"protect_before", Hex(mbi.Protect));
    bool guarded = (mbi.Protect & PAGE_GUARD) != 0;
    bool ran = false;
    DWORD result = 0;
    // A guard page would fault on the first touch; only the host's loader takes it away.
    if (!guarded) {
      memcpy(page, kCode, sizeof kCode);
      r.Add(L"flushed", FlushInstructionCache(GetCurrentProcess(), page, sizeof kCode) ? 1 : 0);
      VirtualQuery(page, &mbi, sizeof mbi);
      DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                         PAGE_EXECUTE_WRITECOPY;
      if (mbi.Protect & executable) {
        result = reinterpret_cast<DWORD(__cdecl*)()>(page)();
        ran = true;
      }
    }
    r.Add(L"protect_after", Hex(mbi.Protect));
    r.Add(L"ran", ran ? 1 : 0);
    r.Add(L"result", Hex(result));
    VirtualFree(region, 0, MEM_RELEASE);
  }

  static void RunSoundProbe(Report& r) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 16000;
    ScopedHandle done(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    HWAVEOUT wave = nullptr;
    MMRESULT open = waveOutOpen(&wave, WAVE_MAPPER, &format, DWORD_PTR(done.get()), 0,
                                CALLBACK_EVENT);
    r.Add(L"open", long(open));
    if (open != MMSYSERR_NOERROR) {
      r.Add(L"done", 0);
      return;
    }
    std::vector<int16_t> samples(400);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = (i / 8) % 2 ? 4000 : -4000;
    auto checksum = [&] {
      unsigned long sum = 0;
      auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
      for (size_t i = 0; i < samples.size() * 2; ++i) sum += bytes[i];
      return (long long)sum;
    };
    r.Add(L"checksum_before", checksum());
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(samples.data());
    header.dwBufferLength = DWORD(samples.size() * 2);
    MMRESULT write = waveOutPrepareHeader(wave, &header, sizeof header);
    if (write == MMSYSERR_NOERROR) write = waveOutWrite(wave, &header, sizeof header);
    r.Add(L"write", long(write));
    bool finished = false;
    if (write == MMSYSERR_NOERROR) {
      DWORD start = GetTickCount();
      while (!(header.dwFlags & WHDR_DONE) && GetTickCount() - start < 1000)
        WaitForSingleObject(done.get(), 100);
      finished = (header.dwFlags & WHDR_DONE) != 0;
      if (!finished) waveOutReset(wave);
    }
    r.Add(L"done", finished ? 1 : 0);
    r.Add(L"checksum_after", checksum());
    waveOutUnprepareHeader(wave, &header, sizeof header);
    r.Add(L"close", long(waveOutClose(wave)));
  }

  ComPtr<FlashObject> bound_;
};

}  // namespace

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

struct ClosingWorker {
  std::wstring url;
  ScopedHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  ScopedHandle thread;
};

DWORD WINAPI ClosingWorkerThread(void* param) {
  auto* worker = static_cast<ClosingWorker*>(param);
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  while (WaitForSingleObject(worker->stop.get(), 0) == WAIT_TIMEOUT) {
    FetchResult result;
    Guard([&] {
      result = FetchUrl(worker->url, worker->stop.get(), 10000, {});
      return S_OK;
    });
    if (!result.Succeeded()) WaitForSingleObject(worker->stop.get(), 10);
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return 0;
}

}  // namespace

void TestVariantAttach() {
  const std::wstring stall = Environment(L"STANDIN_TEST_FETCH_STALL_MS");
  if (!stall.empty()) FetchStallMs = DWORD(wcstoul(stall.c_str(), nullptr, 10));
}

void TestVariantDetach() {
  const std::wstring path = Environment(L"STANDIN_TEST_DETACH_REPORT");
  if (path.empty()) return;
  // Already initialised (S_FALSE, or another model): COM is still there for the detach.
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const bool initialised = init == S_FALSE || init == RPC_E_CHANGED_MODE;
  if (SUCCEEDED(init)) CoUninitialize();
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  const char* text = initialised ? "com=1" : "com=0";
  DWORD written = 0;
  if (file) WriteFile(file.get(), text, 5, &written, nullptr);
}

std::shared_ptr<void> StartClosingWorker() {
  const std::wstring url = Environment(L"STANDIN_TEST_CLOSING_WORKER_URL");
  if (url.empty()) return nullptr;
  auto worker = std::make_unique<ClosingWorker>();
  worker->url = url;
  worker->thread.Reset(CreateThread(nullptr, 0, ClosingWorkerThread, worker.get(), 0, nullptr));
  if (!worker->thread) return nullptr;
  return std::shared_ptr<void>(worker.release(), [](void* p) {
    std::unique_ptr<ClosingWorker> closing(static_cast<ClosingWorker*>(p));
    SetEvent(closing->stop.get());
    WaitForSingleObject(closing->thread.get(), INFINITE);  // no messages dispatched meanwhile
  });
}

HRESULT CreateTestSurface(FlashObject* bound, REFIID riid, void** ppv) {
  return Guard([&] {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComPtr<TestSurface> surface = Adopt(new TestSurface(bound));
    return surface->QueryInterface(riid, ppv);
  });
}

}  // namespace standin
