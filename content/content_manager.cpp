#include "content/content_manager.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "core/error.h"
#include "core/text.h"
#include "content/urlmon_bindings.h"

namespace pageturn {

TContentManager* ContentManager = nullptr;

namespace {

// Owns a BSTR that a control returned.
class TScopedBSTR {
 public:
  TScopedBSTR() = default;
  ~TScopedBSTR() { ::SysFreeString(text_); }
  TScopedBSTR(const TScopedBSTR&) = delete;
  TScopedBSTR& operator=(const TScopedBSTR&) = delete;
  BSTR* Out() { return &text_; }
  std::wstring Text() const { return text_ ? std::wstring(text_, ::SysStringLen(text_)) : std::wstring(); }

 private:
  BSTR text_ = nullptr;
};

// Binds a real system URL moniker for `url`, with no context; E_FAIL when none can be made.
HRESULT BindRealURL(const std::wstring& url, IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                    void** object) {
  ComPtr<IMoniker> moniker;
  if (FAILED(BoundCreateURLMoniker(nullptr, url.c_str(), &moniker)) || !moniker) return E_FAIL;
  return moniker->BindToStorage(bindContext, toLeft, iid, object);
}

// The stream of the plain load event: notes that its handler wrote at all, even nothing.
class TAnsweredMemoryStream final : public TMemoryStream {
 public:
  std::size_t Write(const void* buffer, std::size_t count) override {
    answered_ = true;
    return TMemoryStream::Write(buffer, count);
  }
  bool Answered() const { return answered_; }

 private:
  bool answered_ = false;
};

}  // namespace

std::wstring CurrentDirectoryW() {
  wchar_t probe[1];
  const DWORD length = ::GetCurrentDirectoryW(1, probe);  // the length with its terminator
  if (length == 0) return std::wstring();
  std::wstring directory(length, L'\0');
  const DWORD got = ::GetCurrentDirectoryW(length, directory.data());
  directory.resize(got < length ? got : 0);
  return directory;
}

// ---- TFakeHandleStreamPair ----

TFakeHandleStreamPair::~TFakeHandleStreamPair() {
  if (control_) {
    try {
      control_->FireUnloadExternalResourceAsync(stream_.get());
    } catch (...) {
      // A failing handler still lets the handle close and the stream go.
    }
  }
  handle_.Reset();
  stream_.reset();
}

// ---- TContentManager ----

TContentManager::TContentManager() = default;

TContentManager::~TContentManager() {
  std::vector<std::shared_ptr<TFakeHandleStreamPair>> fakeHandles;
  {
    TLock lock(lock_);
    fakeHandles.swap(fakeHandles_);
  }
  fakeHandles.clear();
  TLock lock(listsLock_);
  providers_.clear();
  controls_.clear();
}

void TContentManager::StopServingGUISteps() { guiThread_.Close(); }

void TContentManager::SetGlobalContentHandler(TGlobalContentHandler handler) {
  TLock lock(listsLock_);
  globalContentHandler_ = std::move(handler);
}

std::wstring TContentManager::NextMoviePath() {
  TLock lock(listsLock_);
  return FormatVirtualMoviePath(movieCounter_++);
}

std::unique_ptr<TStream> TContentManager::RegisterMovieStream(IFlashPlayerControlBase* control,
                                                              bool inLayer, int layer) {
  ComPtr<IStream> providerStream;
  ComPtr<IContentProvider> provider = TContentProvider::Create(&providerStream);
  std::unique_ptr<TStream> stream = MakeServedStream(providerStream.Get());
  providerStream.Reset();  // the served stream holds the last reference: freeing it ends the movie
  const std::wstring path = NextMoviePath();
  TVirtualName name;
  ParseVirtualName(path, name);
  {
    TLock lock(listsLock_);
    providers_.push_back({path, provider});
  }
  RegisterControl(name.controlNumber, control);
  // The reset URL first, so that the runtime sees a new movie even where the paths look alike.
  if (inLayer) {
    control->LoadMovieURL(layer, ResetURL);
    control->LoadMovieURL(layer, path.c_str());
  } else {
    control->SetMovieURL(ResetURL);
    control->SetMovieURL(path.c_str());
  }
  return stream;
}

void TContentManager::LoadMovieFromStream(IFlashPlayerControlBase* control, bool inLayer,
                                          TStream& source, int layer) {
  std::unique_ptr<TStream> stream = RegisterMovieStream(control, inLayer, layer);
  // One write of the whole movie: the runtime gets it in one data notification. A memory stream
  // is written from its own bytes; any other source is first gathered into one.
  TMemoryStream gathered;
  auto* movie = dynamic_cast<TMemoryStream*>(&source);
  if (!movie) {
    source.SetPosition(0);
    gathered.SetSize(source.Size());
    if (gathered.Size() > 0) source.ReadBuffer(gathered.Memory(), gathered.Bytes().size());
    movie = &gathered;
  }
  if (movie->Size() > 0) stream->WriteBuffer(movie->Memory(), movie->Bytes().size());
  source.Seek(0, TSeekOrigin::End);  // read to its end, as a copy would leave it
  stream.reset();
}

ComPtr<IContentProvider> TContentManager::TakeProvider(const std::wstring& url) {
  TLock lock(listsLock_);
  for (auto it = providers_.begin(); it != providers_.end(); ++it) {
    if (SameContentURL(it->url, url)) {
      ComPtr<IContentProvider> provider = std::move(it->provider);
      providers_.erase(it);
      return provider;
    }
  }
  return nullptr;
}

void TContentManager::RegisterControl(int number, IFlashPlayerControlBase* control) {
  TLock lock(listsLock_);
  controls_.push_back({number, control});
}

ComPtr<IFlashPlayerControlBase> TContentManager::FindControl(int number) {
  TLock lock(listsLock_);
  for (const auto& record : controls_)
    if (record.number == number) return record.control;
  return nullptr;
}

void TContentManager::UnregisterControl(IFlashPlayerControlBase* control) noexcept {
  Boundary(0, [&] {
    std::vector<TFlashPlayerControlIdPair> removed;  // released after the lock is left
    TLock lock(listsLock_);
    for (auto i = controls_.size(); i-- > 0;) {
      if (controls_[i].control.Get() == control) {
        removed.push_back(std::move(controls_[i]));
        controls_.erase(controls_.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    return 0;
  });
}

std::wstring TContentManager::ControlBaseDirectory(IFlashPlayerControlBase* control) {
  TScopedBSTR base;
  control->GetBaseURL(base.Out());
  std::wstring directory = base.Text();
  if (directory.empty()) directory = CurrentDirectoryW();
  return directory;
}

bool TContentManager::AskControlForContent(IFlashPlayerControlBase* control,
                                           std::wstring relativeName, IStream* providerStream) {
  if (!relativeName.empty() && relativeName.front() == L'/') relativeName.erase(0, 1);
  std::unique_ptr<TStream> stream = MakeServedStream(providerStream);
  bool handled = false;
  try {
    control->FireLoadExternalResourceEx(relativeName.c_str(), stream.get(), &handled);
  } catch (...) {
    if (handled) stream.release();  // the handler took it before it failed
    throw;
  }
  if (handled) {
    stream.release();  // the handler frees it when it has written everything
    return true;
  }
  TAnsweredMemoryStream memory;
  control->FireLoadExternalResource(relativeName.c_str(), &memory);
  // A handler that wrote anything, even no bytes, has answered: an empty file is content too,
  // and must not be replaced by a file of that name elsewhere.
  handled = memory.Size() > 0 || memory.Answered();
  if (!handled) return false;
  if (memory.Size() > 0)
    stream->WriteBuffer(memory.Memory(), memory.Bytes().size());
  else
    stream->Write(memory.Memory(), 0);  // the provider then has its (empty) data
  return true;
}

HRESULT TContentManager::BindContentToStorage(IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                                              IMoniker* /*contextMoniker*/,
                                              IBindStatusCallback* callback, LPCWSTR url,
                                              void** object) noexcept {
  // The context moniker is dropped: every fallback moniker is made without one.
  return Boundary(MK_E_NOSTORAGE, [&] {
    return ServeContent(bindContext, toLeft, iid, callback, url ? url : L"", object);
  });
}

HRESULT TContentManager::ServeContent(IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                                      IBindStatusCallback* callback, const std::wstring& url,
                                      void** object) {
  if (object) *object = nullptr;
  if (ComPtr<IContentProvider> waiting = TakeProvider(url)) {
    waiting->SetBindStatusCallback(callback);
    return MK_S_ASYNCHRONOUS;
  }
  // Whatever the handlers write goes to the bind's callback as it is written; the data ends
  // when the last reference to the provider stream goes (ours, when this returns, or the
  // served stream that a handler kept).
  ComPtr<IStream> providerStream;
  ComPtr<IContentProvider> provider = TContentProvider::Create(&providerStream);
  provider->SetBindStatusCallback(callback);
  bool handled = false;
  TVirtualName name;
  if (ParseVirtualName(url, name)) {
    ComPtr<IFlashPlayerControlBase> control = FindControl(name.controlNumber);
    if (!control) return E_FAIL;
    try {
      handled = AskControlForContent(control.Get(), name.relativeName, providerStream.Get());
    } catch (...) {
      return EndWithFailure(*provider.Get());
    }
    if (!handled && provider->HasData() == S_OK) handled = true;
    if (!handled) {
      const HRESULT hr =
          BindRealURL(ControlBaseDirectory(control.Get()) + L"/" + name.relativeName, bindContext,
                      toLeft, iid, object);
      handled = hr == S_OK || hr == MK_S_ASYNCHRONOUS;
    }
  } else {
    TGlobalContentHandler handler;
    {
      TLock lock(listsLock_);
      handler = globalContentHandler_;
    }
    if (handler) {
      std::unique_ptr<TStream> stream = MakeServedStream(providerStream.Get());
      try {
        handler(url, stream.get(), handled);
      } catch (...) {
        if (handled) stream.release();  // the handler took it before it failed
        return EndWithFailure(*provider.Get());
      }
      if (handled) stream.release();  // the handler's now
    }
    if (!handled) handled = BindRealURL(url, bindContext, toLeft, iid, object) == S_OK;
  }
  return handled ? MK_S_ASYNCHRONOUS : MK_E_NOSTORAGE;
}

HRESULT TContentManager::EndWithFailure(IContentProvider& provider) {
  // A bind that has been told of a start hears of the end through its callback; one that has
  // heard nothing gets the failure as the bind's result. Either way nothing follows.
  return provider.Fail(INET_E_DOWNLOAD_FAILURE) == S_OK ? MK_S_ASYNCHRONOUS : MK_E_NOSTORAGE;
}

HANDLE TContentManager::OpenFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                                  LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                  DWORD flagsAndAttributes, HANDLE templateFile) noexcept {
  return Boundary(INVALID_HANDLE_VALUE, [&] {
    return OpenFile(fileName, access, shareMode, security, creationDisposition,
                    flagsAndAttributes, templateFile);
  });
}

HANDLE TContentManager::OpenFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                                  LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                  DWORD flagsAndAttributes, HANDLE templateFile) noexcept {
  return Boundary(INVALID_HANDLE_VALUE, [&] {
    const std::wstring wide = fileName ? SystemToWide(fileName) : std::wstring();
    return OpenFile(fileName ? wide.c_str() : nullptr, access, shareMode, security,
                    creationDisposition, flagsAndAttributes, templateFile);
  });
}

HANDLE TContentManager::OpenFile(LPCWSTR fileName, DWORD access, DWORD shareMode,
                                 LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile) {
  HANDLE handle = OpenMemoryFile(fileName);
  TVirtualName name;
  if (handle == INVALID_HANDLE_VALUE && fileName && ParseVirtualName(fileName, name)) {
    if (ComPtr<IFlashPlayerControlBase> control = FindControl(name.controlNumber)) {
      std::wstring path = ControlBaseDirectory(control.Get()) + L"\\" + name.relativeName;
      std::replace(path.begin(), path.end(), L'/', L'\\');
      handle = ::CreateFileW(path.c_str(), access, shareMode, security, creationDisposition,
                             flagsAndAttributes, templateFile);
    }
  }
  if (handle == INVALID_HANDLE_VALUE)
    handle = ::CreateFileW(fileName, access, shareMode, security, creationDisposition,
                           flagsAndAttributes, templateFile);
  return handle;
}

HANDLE TContentManager::OpenMemoryFile(LPCWSTR fileName) {
  TVirtualName name;
  if (!fileName || !ParseVirtualName(fileName, name)) return INVALID_HANDLE_VALUE;
  ComPtr<IFlashPlayerControlBase> control = FindControl(name.controlNumber);
  if (!control) return INVALID_HANDLE_VALUE;
  TStream* supplied = nullptr;
  try {
    control->FireLoadExternalResourceAsync(name.relativeName.c_str(), &supplied);
  } catch (...) {
    delete supplied;
    throw;
  }
  std::unique_ptr<TStream> stream(supplied);
  if (!stream) return INVALID_HANDLE_VALUE;
  stream->SetPosition(0);
  // An unnamed event: a handle value that no real file can have.
  const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!event) return INVALID_HANDLE_VALUE;
  RegisterFakeHandle(event, std::move(stream), control.Get());
  return event;
}

void TContentManager::RegisterFakeHandle(HANDLE handle, std::unique_ptr<TStream> stream,
                                         IFlashPlayerControlBase* control) {
  // Whoever lets go of the record last frees it, under the lock: the unload event, the close of
  // the handle and the freeing of the stream run as they would in ReleaseFakeHandle.
  std::shared_ptr<TFakeHandleStreamPair> record(
      new TFakeHandleStreamPair(handle, std::move(stream), control),
      [this](TFakeHandleStreamPair* freed) {
        TLock lock(lock_);
        delete freed;
      });
  TLock lock(lock_);
  fakeHandles_.push_back(std::move(record));
}

std::shared_ptr<TStream> TContentManager::FindFakeHandleStream(HANDLE handle) noexcept {
  return Boundary(std::shared_ptr<TStream>(), [&]() -> std::shared_ptr<TStream> {
    TLock lock(lock_);
    for (const auto& record : fakeHandles_)
      if (record->Handle() == handle) return std::shared_ptr<TStream>(record, record->Stream());
    return nullptr;
  });
}

bool TContentManager::ReleaseFakeHandle(HANDLE handle) noexcept {
  return Boundary(false, [&] {
    TLock lock(lock_);
    const auto it = std::find_if(fakeHandles_.begin(), fakeHandles_.end(),
                                 [&](const auto& record) { return record->Handle() == handle; });
    if (it == fakeHandles_.end()) return false;
    // Out of the list before it is freed, so that the unload handler cannot find it again;
    // freed under the lock, as the file interceptions expect (at once, unless a read, size or
    // seek call on another thread still holds it: then when that call ends).
    std::shared_ptr<TFakeHandleStreamPair> record = std::move(*it);
    fakeHandles_.erase(it);
    record.reset();
    return true;
  });
}

}  // namespace pageturn
