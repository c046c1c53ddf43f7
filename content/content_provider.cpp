#include "content/content_provider.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "core/text.h"

namespace pageturn {

namespace {

// Every data notification: the whole content so far is the first and the last piece alike.
constexpr DWORD DataNotificationFlags = BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION;

// The bytes on their way go through buffers whose memory is used again: a fresh block of memory
// costs the system a page fault per page on its first write, several times the copy itself. One
// spare, the largest given back (up to 64 MiB), waits for the next delivery.
constexpr std::size_t MaxSpareBuffer = 64u << 20;
std::mutex SpareLock;
std::vector<std::uint8_t> Spare;

std::vector<std::uint8_t> TakeBuffer(std::size_t atLeast) {
  std::vector<std::uint8_t> buffer;
  {
    const std::lock_guard<std::mutex> lock(SpareLock);
    if (Spare.capacity() >= atLeast) buffer.swap(Spare);
  }
  buffer.clear();
  return buffer;
}

void GiveBackBuffer(std::vector<std::uint8_t>& buffer) {
  if (buffer.capacity() > MaxSpareBuffer) return;
  const std::lock_guard<std::mutex> lock(SpareLock);
  if (buffer.capacity() > Spare.capacity()) Spare.swap(buffer);
}

// A read-only stream over delivered bytes, handed to the runtime's OnDataAvailable as they are:
// it owns them for as long as the runtime holds it, and gives the buffer back when it goes.
class TDeliveredBytesStream final : public IStream, private TComRefCount {
 public:
  explicit TDeliveredBytesStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *object = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override {
    const std::size_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const auto n = static_cast<ULONG>(std::min<std::size_t>(count, left));
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    if (read) *read = n;
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* newPosition) override {
    const LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                          : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                          : origin == STREAM_SEEK_END ? static_cast<LONGLONG>(bytes_.size())
                                                      : -1;
    if (base < 0 || base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<std::size_t>(base + move.QuadPart);
    if (newPosition) newPosition->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    ZeroMemory(stat, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = bytes_.size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override {
    if (clone) *clone = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~TDeliveredBytesStream() override { GiveBackBuffer(bytes_); }
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// The trace routine of the control unit writes nothing; kept as the one place to hook it.
void Trace(const char*) {}

}  // namespace

ComPtr<IContentProvider> TContentProvider::Create(IStream** stream) {
  if (stream) *stream = nullptr;
  ComPtr<IContentProvider> provider = Adopt<IContentProvider>(new TContentProvider);
  if (stream) *stream = new TContentProviderStream(provider.Get());
  return provider;
}

HRESULT TContentProvider::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IContentProvider || iid == IID_IUnknown) {
    *object = static_cast<IContentProvider*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TContentProvider::AddRef() { return AddRefCount(); }
ULONG TContentProvider::Release() { return ReleaseCount(); }

void TContentProvider::SendResponseHeader() {
  ComPtr<IHttpNegotiate> negotiate;
  if (FAILED(callback_.As(&negotiate)) || !negotiate) return;
  char header[64];
  std::snprintf(header, sizeof header, ResponseHeaderFormat,
                static_cast<int>(static_cast<std::uint32_t>(announcedSize_ & 0xFFFFFFFF)));
  const std::wstring text = SystemToWide(header);
  LPWSTR additionalHeaders = nullptr;
  negotiate->OnResponse(200, text.c_str(), nullptr, &additionalHeaders);
  // The runtime allocated any returned text for us to free.
  if (additionalHeaders) ::CoTaskMemFree(additionalHeaders);
}

void TContentProvider::StartBinding() {
  if (started_) return;
  SendResponseHeader();
  callback_->OnStartBinding(0, nullptr);
  started_ = true;
}

void TContentProvider::SendData(std::vector<std::uint8_t> bytes, ULONG* written) {
  const auto count = static_cast<ULONG>(bytes.size());
  const ComPtr<IStream> data = Adopt<IStream>(new TDeliveredBytesStream(std::move(bytes)));
  FORMATETC format{0, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
  STGMEDIUM medium{};
  medium.tymed = TYMED_ISTREAM;
  medium.pstm = data.Get();
  medium.pUnkForRelease = nullptr;
  const HRESULT hr = callback_->OnDataAvailable(DataNotificationFlags, count, &format, &medium);
  if (hr != S_OK && written) *written = 0;
  char trace[64];
  std::snprintf(trace, sizeof trace, "m_pBindStatusCallback.OnDataAvailable, hr = 0x%.8lx\\n",
                static_cast<unsigned long>(hr));
  Trace(trace);
}

HRESULT TContentProvider::SetBindStatusCallback(IBindStatusCallback* callback) {
  return ComBoundary([&] {
    TLock lock(lock_);
    callback_ = callback;
    if (failed_ && callback_) {
      // Claimed after it failed: the bind still ends, with the failure.
      callback_->OnStartBinding(0, nullptr);
      started_ = true;
      callback_->OnStopBinding(failure_, nullptr);
    } else if (hasData_ && callback_) {
      StartBinding();
      if (buffered_) SendData(std::move(buffer_), nullptr);
      buffer_ = std::vector<std::uint8_t>();
      buffered_ = false;
      if (finished_) callback_->OnStopBinding(S_OK, nullptr);
    }
    return S_OK;
  });
}

HRESULT TContentProvider::HasData() {
  TLock lock(lock_);
  return hasData_ ? S_OK : S_FALSE;
}

HRESULT TContentProvider::Complete() {
  return ComBoundary([&] {
    TLock lock(lock_);
    if (finished_) return S_OK;  // ended already (failed): the bind has had its one stop
    finished_ = true;
    if (hasData_ && callback_) {
      StartBinding();
      callback_->OnStopBinding(S_OK, nullptr);
    }
    return S_OK;
  });
}

HRESULT TContentProvider::Write(const void* buffer, ULONG count, ULONG* written) {
  return ComBoundary([&] {
    TLock lock(lock_);
    if (written) *written = 0;
    if (failed_) return S_OK;  // nothing goes after a failure; the writer sees 0 bytes taken
    hasData_ = true;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (callback_) {
      StartBinding();
      std::vector<std::uint8_t> piece = TakeBuffer(count);
      piece.assign(bytes, bytes + count);
      if (written) *written = count;
      SendData(std::move(piece), written);
    } else {
      if (!buffered_) buffer_ = TakeBuffer(0);
      buffered_ = true;
      buffer_.insert(buffer_.end(), bytes, bytes + count);
      if (written) *written = count;
    }
    return S_OK;
  });
}

HRESULT TContentProvider::SetContentSize(DWORD sizeLow, DWORD sizeHigh) {
  return ComBoundary([&] {
    TLock lock(lock_);
    announcedSize_ = static_cast<LONGLONG>((static_cast<ULONGLONG>(sizeHigh) << 32) | sizeLow);
    if (callback_) SendResponseHeader();
    return S_OK;
  });
}

HRESULT TContentProvider::Fail(HRESULT result) {
  return ComBoundary([&] {
    TLock lock(lock_);
    if (finished_) return S_FALSE;
    finished_ = true;
    failed_ = true;
    failure_ = result;
    buffer_ = std::vector<std::uint8_t>();
    buffered_ = false;
    if (!callback_ || !started_) return S_FALSE;
    callback_->OnStopBinding(result, nullptr);
    return S_OK;
  });
}

// ---- TContentProviderStream ----

TContentProviderStream::~TContentProviderStream() {
  // The last reference going is the end of the data.
  provider_->Complete();
}

HRESULT TContentProviderStream::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IStream) {
    *object = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TContentProviderStream::AddRef() { return AddRefCount(); }
ULONG TContentProviderStream::Release() { return ReleaseCount(); }

HRESULT TContentProviderStream::Read(void*, ULONG, ULONG*) { return E_NOTIMPL; }

HRESULT TContentProviderStream::Write(const void* buffer, ULONG count, ULONG* written) {
  return provider_->Write(buffer, count, written);
}

HRESULT TContentProviderStream::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) { return E_NOTIMPL; }

HRESULT TContentProviderStream::SetSize(ULARGE_INTEGER newSize) {
  return provider_->SetContentSize(newSize.LowPart, newSize.HighPart);
}

HRESULT TContentProviderStream::CopyTo(IStream* target, ULARGE_INTEGER, ULARGE_INTEGER*,
                                       ULARGE_INTEGER*) {
  ComPtr<IStream> held(target);  // referenced and released around the call
  return E_NOTIMPL;
}

HRESULT TContentProviderStream::Commit(DWORD) { return E_NOTIMPL; }
HRESULT TContentProviderStream::Revert() { return E_NOTIMPL; }
HRESULT TContentProviderStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return E_NOTIMPL;
}
HRESULT TContentProviderStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return E_NOTIMPL;
}
HRESULT TContentProviderStream::Stat(STATSTG*, DWORD) { return E_NOTIMPL; }

HRESULT TContentProviderStream::Clone(IStream** clone) {
  if (clone) *clone = nullptr;
  return E_NOTIMPL;
}

}  // namespace pageturn
