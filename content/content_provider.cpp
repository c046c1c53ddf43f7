#include "content/content_provider.h"

#include <cstdio>
#include <string>

#include "core/text.h"

namespace pageturn {

namespace {

// Every data notification: the whole content so far is the first and the last piece alike.
constexpr DWORD DataNotificationFlags = BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION;

ComPtr<IStream> NewMemoryStream() {
  ComPtr<IStream> stream;
  OleCheck(::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
  return stream;
}

void Rewind(IStream* stream) {
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

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

void TContentProvider::SendData(IStream* data, ULONG count, ULONG* written) {
  FORMATETC format{0, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
  STGMEDIUM medium{};
  medium.tymed = TYMED_ISTREAM;
  medium.pstm = data;
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
    if (hasData_ && callback_) {
      StartBinding();
      if (buffer_) {
        Rewind(buffer_.Get());
        SendData(buffer_.Get(), bufferedCount_, nullptr);
        buffer_.Reset();
      }
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
    hasData_ = true;
    if (callback_) {
      StartBinding();
      ComPtr<IStream> piece = NewMemoryStream();
      OleCheck(piece->Write(buffer, count, written));
      Rewind(piece.Get());
      SendData(piece.Get(), count, written);
    } else {
      if (!buffer_) buffer_ = NewMemoryStream();
      OleCheck(buffer_->Write(buffer, count, written));
      bufferedCount_ += count;
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
