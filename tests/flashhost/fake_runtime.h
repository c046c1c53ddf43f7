// A scriptable stand-in for the Flash runtime object, for what the real stand-in cannot show:
// any FlashVersion (with the interface layout of that version), refusals of SetClientSite and
// SetExtent, an object that never activates or activates without a window. It records the calls
// the host makes, in order, and the messages its window receives, and is served through the real
// code provider (TFakeRuntime::Install puts its class factory into CodeProvider). Its Flash
// interface is the tests' own declaration of the published one, never the host's.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/com.h"
#include "tests/flashhost/published_flash.h"

namespace pageturn::test {

struct TFakeScript {
  int majorVersion = 9;            // FlashVersion reports majorVersion << 16
  HRESULT setClientSite = S_OK;    // result of SetClientSite(non-null)
  HRESULT setExtent = S_OK;
  HRESULT getExtent = S_OK;
  SIZEL extent = {2646, 2117};     // 100 x 80 px at 96 ppi
  bool activates = true;           // DoVerb(-5) calls OnInPlaceActivate
  bool makesWindow = true;         // the in-place object has a window
  HRESULT runtimeCalls = S_OK;     // what every IShockwaveFlash member answers
  bool translatesAccelerators = false;
  WORD accelerator = 0;            // a key in the control's accelerator table (0: none)
  bool answersOleControl = true;   // QueryInterface for IOleControl
  bool answersDispatch = true;     // QueryInterface for IDispatch (the Flash interface stays)
  bool forgetsClientSite = false;  // GetClientSite succeeds without a site
  HRESULT unadvise = S_OK;         // what Unadvise answers (the sink is let go all the same)
};

class TFakeRuntime;

// The one object the host sees; the Flash interface of the scripted version's layout is a part
// of it sharing its identity.
class TFakeRuntime final : public IOleObject,
                           public IOleInPlaceObject,
                           public IOleInPlaceActiveObject,
                           public IOleControl,
                           public IConnectionPointContainer {
 public:
  // Makes the code provider serve new fake objects scripted by `script` (held by reference).
  static void Install(TFakeScript& script);
  // The last object made, or none.
  static TFakeRuntime* Last();

  explicit TFakeRuntime(const TFakeScript& script);

  // What the host did, in order: "SetClientSite", "DoVerb(-5)", "SetExtent(21167,15875)",
  // "put_Movie(x)", "get_SWRemote", "wnd:0x0204" (a message that reached the object's window)...
  std::vector<std::string> calls;
  std::string Calls(const std::string& prefix = "") const;  // those starting with prefix, joined
  bool Called(const std::string& call) const;
  void Log(const std::string& call) {
    calls.push_back(call);
    if (onLog) onLog(call);
  }
  std::function<void(const std::string&)> onLog;  // also told every call

  // Raises an event on the advised sink, asking for the failure's details in `exception` when
  // given; the sink's result.
  HRESULT Fire(DISPID id, std::vector<VARIANT> argumentsInDispatchOrder,
               EXCEPINFO* exception = nullptr);
  IDispatch* Sink() const { return sink_.Get(); }
  IOleClientSite* Site() const { return site_.Get(); }
  HWND Window() const { return window_; }
  std::map<std::string, long> numbers;
  std::map<std::string, std::wstring> texts;
  const TFakeScript& script;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override;

  // IOleObject
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD option) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                   LPCRECT position) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

  // IOleControl
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* msg) override;
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL) override { return S_OK; }

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // Connection points: the one sink each holds.
  void Advised(bool events, IUnknown* sink);
  void Unadvised(bool events);

 private:
  class TPoint;
  ~TFakeRuntime();
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

  LONG refs_ = 1;
  ComPtr<IOleClientSite> site_;
  ComPtr<IDispatch> sink_;
  ComPtr<IPropertyNotifySink> notify_;
  std::shared_ptr<void> flashPart_;  // the layout's object, freed as what it is
  IDispatch* flash_ = nullptr;
  std::unique_ptr<TPoint> eventsPoint_, notifyPoint_;
  HWND window_ = nullptr;
  bool inPlace_ = false;
  SIZEL extent_;
  HACCEL accelerators_ = nullptr;
};

}  // namespace pageturn::test
