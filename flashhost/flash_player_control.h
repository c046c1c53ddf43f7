// TFlashPlayerControl: a windowed control that owns one Flash runtime object, asked of the current
// code provider, and is that object's whole OLE container: client, in-place and control site,
// in-place frame, event sink and ambient properties. It publishes the runtime's properties (with
// caches, so they work before and without a runtime), wraps its methods, raises its events and
// loads movies from streams through the content manager. GUI thread only, except the content
// events, which arrive on the threads of the runtime's binds and file reads.
#pragma once

#ifndef _WIN32
#error "flashhost/flash_player_control.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleidl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "forms/forms.h"
#include "content/flash_player_control_base.h"
#include "core/com.h"
#include "core/stream.h"
#include "flashhost/shockwave_flash.h"

namespace pageturn {

using WordBool = std::int16_t;  // 0 false, nonzero true; the control stores true as -1

class TFlashPlayerControl;

// The published event types; ASender is always the control.
using TFlashPlayerControlOnReadyStateChange = std::function<void(TWinControl* ASender, int newState)>;
using TFlashPlayerControlOnProgress = std::function<void(TWinControl* ASender, int percentDone)>;
using TFlashPlayerControlFSCommand = std::function<void(
    TWinControl* ASender, const std::wstring& command, const std::wstring& args)>;
using TFlashPlayerControlFlashCall =
    std::function<void(TWinControl* ASender, const std::wstring& request)>;
// The handler writes the whole content into `Stream`, which stays the caller's.
using TFlashPlayerControlOnLoadExternalResource =
    std::function<void(TWinControl* ASender, const std::wstring& URL, TStream* Stream)>;
// A handler that sets bHandled owns `Stream` and deletes it once the content is complete.
using TFlashPlayerControlOnLoadExternalResourceEx = std::function<void(
    TWinControl* ASender, const std::wstring& URL, TStream* Stream, bool& bHandled)>;
// A handler that serves `Path` sets `Stream` to a new stream (allocated with new), which the
// caller then owns.
using TFlashPlayerControlOnLoadExternalResourceAsync =
    std::function<void(TWinControl* ASender, const std::wstring& Path, TStream*& Stream)>;
// The stream of a closing in-memory file; the handler must not free it.
using TFlashPlayerControlOnUnloadExternalResourceAsync =
    std::function<void(TWinControl* ASender, TStream* Stream)>;

// The host's probe of the movie, and the control's fixed answer.
inline constexpr wchar_t HostProbeId[] = L"{3F6C2D1E-9A4B-4c7d-B2E5-6D8A1F0C3B79}";
inline constexpr wchar_t HostProbeAnswer[] =
    L"<string>{7E19B0D4-C5A2-4F83-9D6E-0B4C8A2F1E65}</string>";

// The module version from which the runtime has AllowFullScreen (9.0.28.0, packed).
constexpr std::uint32_t AllowFullscreenModuleVersion = 0x09001C00;

class TFlashPlayerControlLink;

class TFlashPlayerControl : public TWinControl,
                            public IDispatch,  // _IShockwaveFlashEvents and the ambient properties
                            public IOleClientSite,
                            public IOleInPlaceSite,
                            public IOleControlSite,
                            public IPropertyNotifySink,
                            public ISimpleFrameSite {
 public:
  explicit TFlashPlayerControl(TWinControl* owner);
  ~TFlashPlayerControl() override;

  // ---- events
  TFlashPlayerControlOnReadyStateChange OnReadyStateChange;
  TFlashPlayerControlOnProgress OnProgress;
  TFlashPlayerControlFSCommand OnFSCommand;
  TFlashPlayerControlFlashCall OnFlashCall;
  TFlashPlayerControlOnLoadExternalResource OnLoadExternalResource;
  TFlashPlayerControlOnLoadExternalResourceEx OnLoadExternalResourceEx;
  TFlashPlayerControlOnLoadExternalResourceAsync OnLoadExternalResourceAsync;
  TFlashPlayerControlOnUnloadExternalResourceAsync OnUnloadExternalResourceAsync;

  // When false (the default) the runtime's own context menu is kept from opening.
  WordBool StandartMenu = 0;

  // The runtime object, or none when the code provider gave nothing.
  IOleObject* RuntimeObject() const { return oleObject_.Get(); }
  // -1 without a runtime object; else the major version the runtime reports.
  int FlashMajorVersion();
  // The loaded runtime module's packed version; 0 when unknown.
  static std::uint32_t RuntimeFileVersion();

  // ---- framework overrides
  void SetParent(TWinControl* parent) override;
  void SetBounds(int left, int top, int width, int height) override;
  bool PaletteChanged(bool foreground) override;

  // ---- IPropertyNotifySink: the two handlers, for subclasses; S_OK and nothing else here
  HRESULT STDMETHODCALLTYPE OnChanged(DISPID id) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID id) override { return S_OK; }

  // ---- movies from streams. The copying forms read `Stream` whole from its first byte; the
  // open forms return a stream to write the movie into, which the caller frees at its end.
  virtual void LoadLayerFromStream(int Layer, TStream& Stream);
  virtual void SetMovieFromStream(TStream& Stream);
  virtual std::unique_ptr<TStream> OpenLayerStream(int Layer);
  virtual std::unique_ptr<TStream> OpenMovieStream();

  // ---- runtime methods; failures raise (OleError), except LoadMovie's
  virtual void SetZoomRect(int left, int top, int right, int bottom);
  virtual void Zoom(int factor);
  virtual void Pan(int x, int y, int mode);
  virtual void Play();
  virtual void Stop();
  virtual void Back();
  virtual void Forward();
  virtual void Rewind();
  virtual void StopPlay();
  virtual void GotoFrame(int FrameNum);
  virtual int CurrentFrame();
  virtual WordBool IsPlaying();
  virtual int PercentLoaded();
  virtual WordBool FrameLoaded(int FrameNum);
  virtual int FlashVersion();
  virtual void LoadMovie(int layer, const std::wstring& url);
  virtual void TGotoFrame(const std::wstring& target, int FrameNum);
  virtual void TGotoLabel(const std::wstring& target, const std::wstring& label);
  virtual int TCurrentFrame(const std::wstring& target);
  virtual std::wstring TCurrentLabel(const std::wstring& target);
  virtual void TPlay(const std::wstring& target);
  virtual void TStopPlay(const std::wstring& target);
  virtual void SetVariable(const std::wstring& name, const std::wstring& value);
  virtual std::wstring GetVariable(const std::wstring& name);
  virtual void TSetProperty(const std::wstring& target, int property, const std::wstring& value);
  virtual std::wstring TGetProperty(const std::wstring& target, int property);
  virtual void TCallFrame(const std::wstring& target, int FrameNum);
  virtual void TCallLabel(const std::wstring& target, const std::wstring& label);
  virtual void TSetPropertyNum(const std::wstring& target, int property, double value);
  virtual double TGetPropertyNum(const std::wstring& target, int property);
  virtual double TGetPropertyAsNumber(const std::wstring& target, int property);
  virtual std::wstring CallFunction(const std::wstring& request);
  virtual void SetReturnValue(const std::wstring& returnValue);

  // ---- read-only values and published properties; they never raise
  virtual int ReadyState();
  virtual int TotalFrames();
  virtual std::wstring Movie();
  virtual void SetMovie(const std::wstring& value);
  virtual int FrameNum();
  virtual void SetFrameNum(int value);
  virtual WordBool Playing();
  virtual void SetPlaying(WordBool value);
  virtual int Quality();
  virtual void SetQuality(int value);
  virtual int ScaleMode();
  virtual void SetScaleMode(int value);
  virtual int AlignMode();
  virtual void SetAlignMode(int value);
  virtual int BackgroundColor();
  virtual void SetBackgroundColor(int value);
  virtual WordBool Loop();
  virtual void SetLoop(WordBool value);
  virtual std::wstring WMode();
  virtual void SetWMode(const std::wstring& value);
  virtual std::wstring SAlign();
  virtual void SetSAlign(const std::wstring& value);
  virtual WordBool Menu();
  virtual void SetMenu(WordBool value);
  virtual std::wstring Base();
  virtual void SetBase(const std::wstring& value);
  virtual std::wstring Scale();
  virtual void SetScale(const std::wstring& value);
  virtual WordBool DeviceFont();
  virtual void SetDeviceFont(WordBool value);
  virtual WordBool EmbedMovie();
  virtual void SetEmbedMovie(WordBool value);
  virtual std::wstring BGColor();
  virtual void SetBGColor(const std::wstring& value);
  virtual std::wstring Quality2();
  virtual void SetQuality2(const std::wstring& value);
  virtual std::wstring SWRemote();
  virtual void SetSWRemote(const std::wstring& value);
  virtual std::wstring Stacking();
  virtual void SetStacking(const std::wstring& value);
  virtual std::wstring FlashVars();
  virtual void SetFlashVars(const std::wstring& value);
  virtual std::wstring AllowScriptAccess();
  virtual void SetAllowScriptAccess(const std::wstring& value);
  virtual std::wstring MovieData();
  virtual void SetMovieData(const std::wstring& value);
  virtual WordBool AllowFullscreen();
  virtual void SetAllowFullscreen(WordBool value);

  // ---- IUnknown: one table for every interface of the control; the count never frees it
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ---- IDispatch (event sink)
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  // ---- IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
  HRESULT STDMETHODCALLTYPE ShowObject() override;
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL show) override;
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override;

  // ---- IOleWindow / IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enterMode) override;
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
  HRESULT STDMETHODCALLTYPE OnUIActivate() override;
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                             LPRECT position, LPRECT clip,
                                             LPOLEINPLACEFRAMEINFO frameInfo) override;
  HRESULT STDMETHODCALLTYPE Scroll(SIZE extent) override;
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL undoable) override;
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override;
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override;
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override;

  // ---- IOleControlSite
  HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override;
  HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL lock) override;
  HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch** control) override;
  HRESULT STDMETHODCALLTYPE TransformCoords(POINTL* himetric, POINTF* container,
                                            DWORD flags) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg, DWORD modifiers) override;
  HRESULT STDMETHODCALLTYPE OnFocus(BOOL gotFocus) override;
  HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override;

  // ---- ISimpleFrameSite
  HRESULT STDMETHODCALLTYPE PreMessageFilter(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                             LRESULT* result, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE PostMessageFilter(HWND window, UINT msg, WPARAM wParam,
                                              LPARAM lParam, LRESULT* result,
                                              DWORD cookie) override;

  // The in-place frame, a separate interface object of the control: its GetWindow answers the
  // top-level window where the site's answers the parent's.
  IOleInPlaceFrame* InPlaceFrame();

 protected:
  const char* WindowClassName() const override { return "TFlashPlayerControl"; }
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& message) override;
  void DefaultHandler(TMessage& message) override;

 private:
  class TInPlaceFrame;
  friend class TFlashPlayerControlLink;

  void ConnectRuntimeObject();
  void DisconnectRuntimeObject() noexcept;
  // Unadvises, closes, disconnects and unsites the object and lets it go.
  void ReleaseRuntimeObject() noexcept;
  void KeepBaseForBinds();
  void HookObjectWindow();
  void MarkUiActive(bool active);
  void EnsureClientSite();
  void ApplyInPlaceActivate();
  RECT ParentBoundsRect();
  HWND ParentHandle();
  HWND TopHandle();
  int ClampedVersion();
  bool MethodAllowed(int lowest);
  ComPtr<IShockwaveFlash> Flash();
  template <class T, class Get>
  T GetValue(const T& cached, unsigned versions, Get get);
  template <class Get>
  std::wstring GetText(const std::wstring& cached, unsigned versions, Get get);
  template <class Put>
  void PutValue(unsigned versions, Put put);
  void InstallMessageHandlers();
  void MouseMessage(TMessage& message, const TMessageHandler& base);
  HRESULT AmbientProperty(DISPID id, VARIANT* result);
  void AnswerHostProbe() noexcept;
  static HRESULT CreateFontDispatch(const TFont& font, IDispatch** dispatch);
  TMainMenu* FindMergeMenu();

  LONG refs_ = 0;
  ComPtr<IOleObject> oleObject_;
  ComPtr<IOleControl> oleControl_;
  ComPtr<IDispatch> objectDispatch_;
  ComPtr<IPerPropertyBrowsing> propertyBrowsing_;
  ComPtr<IOleInPlaceObject> inPlaceObject_;
  ComPtr<IOleInPlaceActiveObject> inPlaceActiveObject_;
  DWORD propertyNotifyCookie_ = 0;
  ComPtr<IConnectionPoint> eventsConnectionPoint_;
  bool eventsAdvised_ = false;
  DWORD eventsCookie_ = 0;
  bool adopted_ = false;  // the window is the object's, subclassed

  struct TCache {
    int readyState = 0, totalFrames = 0;
    std::wstring movie;
    int frameNum = 0;
    WordBool playing = 0;
    int quality = 0, scaleMode = 0, alignMode = 0, backgroundColor = 0;
    WordBool loop = 0;
    std::wstring wMode, sAlign;
    WordBool menu = 0;
    std::wstring base, scale;
    WordBool deviceFont = 0, embedMovie = 0;
    std::wstring bgColor, quality2, swRemote, stacking, flashVars, allowScriptAccess, movieData;
    WordBool allowFullscreen = 0;
  } cache_;

  std::unique_ptr<TInPlaceFrame> frame_;
  // What the content manager holds instead of the control; cut loose on destruction.
  ComPtr<TFlashPlayerControlLink> link_;
};

}  // namespace pageturn
