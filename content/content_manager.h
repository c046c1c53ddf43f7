// The one registry through which everything the hosted runtime reads is served from memory:
// movies waiting to be bound, the controls that may be asked for content, and fake file handles.
#pragma once

#ifndef _WIN32
#error "content/content_manager.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>
#include <urlmon.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "content/content_provider.h"
#include "content/flash_player_control_base.h"
#include "content/synchronized_stream.h"
#include "content/virtual_names.h"
#include "core/com.h"
#include "core/stream.h"
#include "core/win32.h"

namespace pageturn {

// The application-wide answer to URLs that carry no virtual name: `url` exactly as the runtime
// asked for it; a handler that sets `handled` owns `stream` and deletes it when it is done. A
// handler that cannot deliver what it took on raises (after setting `handled`, and having freed
// the stream or not): the bind then ends with an error instead of a short success.
using TGlobalContentHandler =
    std::function<void(const std::wstring& url, TStream* stream, bool& handled)>;

struct TURLContentProviderPair {
  std::wstring url;
  ComPtr<IContentProvider> provider;
};

struct TFlashPlayerControlIdPair {
  int number;
  ComPtr<IFlashPlayerControlBase> control;
};

// An open in-memory file. Freeing it raises the control's unload event with the stream, then
// closes the handle, then frees the stream.
class TFakeHandleStreamPair {
 public:
  TFakeHandleStreamPair(HANDLE handle, std::unique_ptr<TStream> stream,
                        IFlashPlayerControlBase* control)
      : handle_(handle), stream_(std::move(stream)), control_(control) {}
  ~TFakeHandleStreamPair();
  HANDLE Handle() const { return handle_.Get(); }
  TStream* Stream() const { return stream_.get(); }

 private:
  ScopedHandle handle_;
  std::unique_ptr<TStream> stream_;
  ComPtr<IFlashPlayerControlBase> control_;
};

class TContentManager {
 public:
  // Create it on the GUI thread: that thread then runs every step of the served streams.
  TContentManager();
  ~TContentManager();
  TContentManager(const TContentManager&) = delete;
  TContentManager& operator=(const TContentManager&) = delete;

  void SetGlobalContentHandler(TGlobalContentHandler handler);

  // Once the GUI thread's message loop has ended and before the runtime goes: the steps that
  // binding threads left for the GUI thread run now, and later ones are refused (their streams
  // fail), so that a runtime that waits for its threads while it closes is never kept waiting
  // by us.
  void StopServingGUISteps();

  // Registers a new virtual movie path for `control`, points the control (or its `layer` when
  // `inLayer`) at it, and returns the stream to write the movie into; deleting the stream ends
  // the movie. `layer` is -1 when not in a layer.
  std::unique_ptr<TStream> RegisterMovieStream(IFlashPlayerControlBase* control, bool inLayer,
                                               int layer);
  // The same, with the whole of `source` (from its beginning) written as the movie.
  void LoadMovieFromStream(IFlashPlayerControlBase* control, bool inLayer, TStream& source,
                           int layer);
  void UnregisterControl(IFlashPlayerControlBase* control) noexcept;

  // The runtime's BindToStorage of a TMyMoniker for `url`, with the TMyBindStatusCallback that
  // the moniker registered. MK_S_ASYNCHRONOUS when the content is or will be delivered through
  // the callback, MK_E_NOSTORAGE when nobody serves it, E_FAIL for a virtual name of an unknown
  // control.
  HRESULT BindContentToStorage(IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                               IMoniker* contextMoniker, IBindStatusCallback* callback,
                               LPCWSTR url, void** object) noexcept;

  // The runtime's CreateFileW / CreateFileA: a fake handle for a served virtual name, else the
  // real file (under the control's base directory for a virtual name, else as named).
  HANDLE OpenFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) noexcept;
  HANDLE OpenFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile) noexcept;
  // The stream behind a fake handle, or null when the handle is not fake. The record (handle and
  // stream) stays alive for as long as the result is held, also when the handle is closed on
  // another thread meanwhile: its close then completes when the last holder lets go.
  std::shared_ptr<TStream> FindFakeHandleStream(HANDLE handle) noexcept;
  // Closes a fake handle; false when the handle is not fake.
  bool ReleaseFakeHandle(HANDLE handle) noexcept;

  // The steps of the above, public for the tests.
  std::wstring NextMoviePath();
  ComPtr<IContentProvider> TakeProvider(const std::wstring& url);
  void RegisterControl(int number, IFlashPlayerControlBase* control);
  ComPtr<IFlashPlayerControlBase> FindControl(int number);
  bool AskControlForContent(IFlashPlayerControlBase* control, std::wstring relativeName,
                            IStream* providerStream);
  std::wstring ControlBaseDirectory(IFlashPlayerControlBase* control);
  HANDLE OpenMemoryFile(LPCWSTR fileName);
  void RegisterFakeHandle(HANDLE handle, std::unique_ptr<TStream> stream,
                          IFlashPlayerControlBase* control);

 private:
  HRESULT EndWithFailure(IContentProvider& provider);
  HRESULT ServeContent(IBindCtx* bindContext, IMoniker* toLeft, REFIID iid,
                       IBindStatusCallback* callback, const std::wstring& url, void** object);
  HANDLE OpenFile(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                  DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);

  TGUIThread guiThread_;
  int movieCounter_ = 1;
  // Binds take providers and look up controls on the runtime's threads while movie loading and
  // control destruction change the lists on the GUI thread, so the lists have their own lock,
  // never held across a call out.
  TCriticalSection listsLock_;
  std::vector<TURLContentProviderPair> providers_;
  std::vector<TFlashPlayerControlIdPair> controls_;
  // Guards the fake-handle list only; a record is freed under it, wherever its last holder is.
  TCriticalSection lock_;
  std::vector<std::shared_ptr<TFakeHandleStreamPair>> fakeHandles_;
  TGlobalContentHandler globalContentHandler_;
};

// The process's content manager: created by the control unit's start-up, freed at its shut-down.
extern TContentManager* ContentManager;

// The process's current directory as wide text; empty when it cannot be had.
std::wstring CurrentDirectoryW();

}  // namespace pageturn
