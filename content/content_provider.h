// One piece of content on its way to the runtime: producers write into the provider's write-only
// stream face, and the provider hands the bytes to the bind-status callback of the bind that
// claimed it, behind an HTTP-style response header. Bytes written before a bind are buffered.
#pragma once

#ifndef _WIN32
#error "content/content_provider.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>
#include <urlmon.h>

#include <cstdint>
#include <vector>

#include "content/live_count.h"
#include "core/com.h"
#include "core/win32.h"

namespace pageturn {

// {58245B0F-C1F8-4D38-B411-F4EBE2A76590}
inline constexpr IID IID_IContentProvider = {
    0x58245B0F, 0xC1F8, 0x4D38, {0xB4, 0x11, 0xF4, 0xEB, 0xE2, 0xA7, 0x65, 0x90}};

struct IContentProvider : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetBindStatusCallback(IBindStatusCallback* callback) = 0;
  // S_OK once any write (even of 0 bytes) has happened, else S_FALSE.
  virtual HRESULT STDMETHODCALLTYPE HasData() = 0;
  virtual HRESULT STDMETHODCALLTYPE Complete() = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetContentSize(DWORD sizeLow, DWORD sizeHigh) = 0;
  // The content cannot be had: the delivery ends here, once. A bind that has already been told
  // of a start gets OnStopBinding(`result`) and S_OK comes back; otherwise nothing is sent and
  // S_FALSE comes back, for the caller to report the failure itself. Later writes are refused.
  virtual HRESULT STDMETHODCALLTYPE Fail(HRESULT result) = 0;
};

// The response header announced before the data; `size` -1 when no size was announced.
inline constexpr char ResponseHeaderFormat[] = "HTTP/1.1 200 OK\r\nContent-Length: %d\r\n";

class TContentProvider final : public IContentProvider,
                               private TComRefCount,
                               public TLiveCount<TContentProvider> {
 public:
  // A new provider (one reference, the caller's); when `stream` is given it receives the
  // IStream of a new TContentProviderStream bound to the provider.
  static ComPtr<IContentProvider> Create(IStream** stream = nullptr);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE SetBindStatusCallback(IBindStatusCallback* callback) override;
  HRESULT STDMETHODCALLTYPE HasData() override;
  HRESULT STDMETHODCALLTYPE Complete() override;
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;
  HRESULT STDMETHODCALLTYPE SetContentSize(DWORD sizeLow, DWORD sizeHigh) override;
  HRESULT STDMETHODCALLTYPE Fail(HRESULT result) override;

 private:
  TContentProvider() = default;
  ~TContentProvider() override = default;
  void StartBinding();
  void SendResponseHeader();
  void SendData(std::vector<std::uint8_t> bytes, ULONG* written);

  // Serialises every operation, SetContentSize included: it reads the callback that a bind may
  // be attaching on another thread.
  TCriticalSection lock_;
  std::vector<std::uint8_t> buffer_;  // bytes written before a callback was attached
  bool buffered_ = false;             // any such write, even of 0 bytes
  bool started_ = false;
  ComPtr<IBindStatusCallback> callback_;
  bool hasData_ = false;
  bool finished_ = false;
  bool failed_ = false;
  HRESULT failure_ = S_OK;
  LONGLONG announcedSize_ = -1;
};

// The provider's write-only, sequential stream face. Its destruction (the last reference going)
// is the end-of-data signal: it calls the provider's Complete.
class TContentProviderStream final : public IStream,
                                     private TComRefCount,
                                     public TLiveCount<TContentProviderStream> {
 public:
  explicit TContentProviderStream(IContentProvider* provider) : provider_(provider) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override;
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* newPosition) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                       DWORD lockType) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                         DWORD lockType) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override;

 private:
  ~TContentProviderStream() override;
  ComPtr<IContentProvider> provider_;
};

}  // namespace pageturn

__CRT_UUID_DECL(pageturn::IContentProvider, 0x58245B0F, 0xC1F8, 0x4D38, 0xB4, 0x11, 0xF4, 0xEB,
                0xE2, 0xA7, 0x65, 0x90)
