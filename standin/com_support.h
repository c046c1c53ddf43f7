// Small COM and Win32 helpers of the stand-in runtime (it shares no code with the host).
#pragma once

#include <ole2.h>
#include <oleauto.h>
#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

namespace standin {

using Microsoft::WRL::ComPtr;

// Takes over the one reference a new object starts with. (mingw-w64's ComPtr::Attach adds a
// reference of its own, unlike the platform's, so it would leak every object it is given.)
template <class T>
ComPtr<T> Adopt(T* fresh) {
  ComPtr<T> p;
  *p.GetAddressOf() = fresh;
  return p;
}

// The module handle given to DllMain; the loader that mapped us may be our host's own.
extern HINSTANCE g_module;
// Objects, factory locks and worker threads alive: the module must stay while any exist.
extern LONG g_liveCount;
inline void ModuleAddRef() { InterlockedIncrement(&g_liveCount); }
inline void ModuleRelease() { InterlockedDecrement(&g_liveCount); }

// The IUnknown of the stand-in's small objects: counts references, frees the object at zero.
template <class... I>
class RefCounted : public I... {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }

 protected:
  RefCounted() = default;
  virtual ~RefCounted() = default;

 private:
  LONG refs_ = 1;
};

// An object of one interface besides IUnknown.
template <class I, const IID& iid>
class SingleInterfaceObject : public RefCounted<I> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != iid) return E_NOINTERFACE;
    *ppv = static_cast<I*>(this);
    this->AddRef();
    return S_OK;
  }
};

class HResultError {
 public:
  explicit HResultError(HRESULT hr) : hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw HResultError(hr);
}

// The boundary: every method that COM, the OS or the host calls runs its body through here,
// so nothing escapes as an exception.
template <class F>
HRESULT Guard(F&& body) noexcept {
  try {
    return body();
  } catch (const HResultError& e) {
    return e.hr();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// Owns one BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), UINT(s.size()))) {
    if (!b_) throw std::bad_alloc();
  }
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR Detach() {
    BSTR b = b_;
    b_ = nullptr;
    return b;
  }
  BSTR get() const { return b_; }
  BSTR* Out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }

 private:
  BSTR b_ = nullptr;
};

inline std::wstring FromBstr(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

// Writes s into *out as a new BSTR (the out parameter is cleared first).
inline HRESULT ReturnBstr(const std::wstring& s, BSTR* out) {
  if (!out) return E_POINTER;
  *out = SysAllocStringLen(s.data(), UINT(s.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& s);
std::wstring Hex(unsigned long value);
std::wstring Join(const std::vector<std::wstring>& items, const wchar_t* separator);
// CR and LF written as \r and \n, so the text fits on one report line.
std::wstring EscapeLineBreaks(const std::wstring& s);

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&cs_); }
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class Lock {
 public:
  explicit Lock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~Lock() { cs_.Leave(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CriticalSection& cs_;
};

class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~ScopedHandle() {
    if (h_) CloseHandle(h_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return h_; }
  void Reset(HANDLE h) {
    if (h_) CloseHandle(h_);
    h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
  }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_ = nullptr;
};

// Waits for one of `count` handles while dispatching this thread's messages. Returns what
// MsgWaitForMultipleObjects said other than "messages": WAIT_OBJECT_0 + i, WAIT_TIMEOUT, ...
DWORD WaitPumpingAny(const HANDLE* handles, DWORD count, DWORD timeoutMs);
// The same for one handle. False on timeout.
inline bool WaitPumping(HANDLE handle, DWORD timeoutMs) {
  return WaitPumpingAny(&handle, 1, timeoutMs) == WAIT_OBJECT_0;
}

// Runs `work` on a new worker thread (COM single-threaded, messages pumped there by whatever
// waits) and waits for it, pumping the caller's messages. Returns work's result, or E_FAIL
// when the thread could not start.
HRESULT RunOnWorker(const std::function<HRESULT()>& work);

// "key=value\n" lines.
class Report {
 public:
  void Add(const std::wstring& key, const std::wstring& value) {
    text_ += key + L"=" + value + L"\n";
  }
  void Add(const std::wstring& key, long long value) { Add(key, std::to_wstring(value)); }
  const std::wstring& text() const { return text_; }
  HRESULT Return(BSTR* out) const { return ReturnBstr(text_, out); }

 private:
  std::wstring text_;
};

}  // namespace standin
