// The ShockwaveFlash object of the stand-in runtime: an OLE control that a container sites,
// in-place activates and drives through IShockwaveFlash, and that plays the SWF subset of
// swf/ in levels, fetching every movie through URL monikers on worker threads.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com_support.h"
#include "connection_point.h"
#include "input.h"
#include "module.h"
#include "player.h"
#include "renderer.h"
#include "shockwave_flash.h"

namespace standin {

class Report;

class FlashObject final : public IOleObject,
                          public IOleControl,
                          public IOleInPlaceObject,
                          public IOleInPlaceActiveObject,
                          public IConnectionPointContainer,
                          public IPerPropertyBrowsing,
                          public IProvideClassInfo2,
                          public IShockwaveFlash,
                          private PlayerHost {
 public:
  FlashObject();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** mk) override;
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                      LPCRECT pos) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD, LPOLESTR* type) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** e) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnAmbientPropertyChange(DISPID dispid) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // IOleWindow (IOleInPlaceObject and IOleInPlaceActiveObject)
  STDMETHODIMP GetWindow(HWND* hwnd) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  // IOleInPlaceObject
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
  // IOleInPlaceActiveObject
  STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** e) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override;

  // IPerPropertyBrowsing
  STDMETHODIMP GetDisplayString(DISPID, BSTR* s) override;
  STDMETHODIMP MapPropertyToPage(DISPID, CLSID* clsid) override;
  STDMETHODIMP GetPredefinedStrings(DISPID, CALPOLESTR* s, CADWORD* c) override;
  STDMETHODIMP GetPredefinedValue(DISPID, DWORD, VARIANT* v) override;

  // IProvideClassInfo2: the default event interface, for containers that look it up
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // IDispatch (late binding of IShockwaveFlash)
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override;

  // IShockwaveFlash
  STDMETHODIMP get_ReadyState(long* v) override;
  STDMETHODIMP get_TotalFrames(long* v) override;
  STDMETHODIMP get_Playing(VARIANT_BOOL* v) override;
  STDMETHODIMP put_Playing(VARIANT_BOOL v) override;
  STDMETHODIMP get_Quality(int* v) override { return GetInt(quality_, v); }
  STDMETHODIMP put_Quality(int v) override { return PutInt(quality_, v); }
  STDMETHODIMP get_ScaleMode(int* v) override { return GetInt(scaleMode_, v); }
  STDMETHODIMP put_ScaleMode(int v) override;
  STDMETHODIMP get_AlignMode(int* v) override { return GetInt(alignMode_, v); }
  STDMETHODIMP put_AlignMode(int v) override;
  STDMETHODIMP get_BackgroundColor(long* v) override;
  STDMETHODIMP put_BackgroundColor(long v) override;
  STDMETHODIMP get_Loop(VARIANT_BOOL* v) override { return GetBool(player_.Loop(), v); }
  STDMETHODIMP put_Loop(VARIANT_BOOL v) override;
  STDMETHODIMP get_Movie(BSTR* v) override { return GetString(movie_, v); }
  STDMETHODIMP put_Movie(BSTR v) override;
  STDMETHODIMP get_FrameNum(long* v) override;
  STDMETHODIMP put_FrameNum(long v) override { return GotoFrame(v); }
  STDMETHODIMP SetZoomRect(long, long, long, long) override { return S_OK; }
  STDMETHODIMP Zoom(int) override { return S_OK; }
  STDMETHODIMP Pan(long, long, int) override { return S_OK; }
  STDMETHODIMP Play() override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Back() override;
  STDMETHODIMP Forward() override;
  STDMETHODIMP Rewind() override;
  STDMETHODIMP StopPlay() override { return Stop(); }
  STDMETHODIMP GotoFrame(long frame) override;
  STDMETHODIMP CurrentFrame(long* frame) override { return get_FrameNum(frame); }
  STDMETHODIMP IsPlaying(VARIANT_BOOL* playing) override { return get_Playing(playing); }
  STDMETHODIMP PercentLoaded(long* percent) override;
  STDMETHODIMP FrameLoaded(long frame, VARIANT_BOOL* loaded) override;
  STDMETHODIMP FlashVersion(long* version) override;
  STDMETHODIMP get_WMode(BSTR* v) override { return GetString(wmode_, v); }
  STDMETHODIMP put_WMode(BSTR v) override { return PutString(wmode_, v); }
  STDMETHODIMP get_SAlign(BSTR* v) override { return GetString(salign_, v); }
  STDMETHODIMP put_SAlign(BSTR v) override;
  STDMETHODIMP get_Menu(VARIANT_BOOL* v) override { return GetBool(menu_, v); }
  STDMETHODIMP put_Menu(VARIANT_BOOL v) override { return PutBool(menu_, v); }
  STDMETHODIMP get_Base(BSTR* v) override { return GetString(base_, v); }
  STDMETHODIMP put_Base(BSTR v) override { return PutString(base_, v); }
  STDMETHODIMP get_Scale(BSTR* v) override { return GetString(scale_, v); }
  STDMETHODIMP put_Scale(BSTR v) override;
  STDMETHODIMP get_DeviceFont(VARIANT_BOOL* v) override { return GetBool(deviceFont_, v); }
  STDMETHODIMP put_DeviceFont(VARIANT_BOOL v) override { return PutBool(deviceFont_, v); }
  STDMETHODIMP get_EmbedMovie(VARIANT_BOOL* v) override { return GetBool(embedMovie_, v); }
  STDMETHODIMP put_EmbedMovie(VARIANT_BOOL v) override { return PutBool(embedMovie_, v); }
  STDMETHODIMP get_BGColor(BSTR* v) override;
  STDMETHODIMP put_BGColor(BSTR v) override;
  STDMETHODIMP get_Quality2(BSTR* v) override { return GetString(quality2_, v); }
  STDMETHODIMP put_Quality2(BSTR v) override { return PutString(quality2_, v); }
  STDMETHODIMP LoadMovie(int layer, BSTR url) override;
  STDMETHODIMP TGotoFrame(BSTR target, long frame) override;
  STDMETHODIMP TGotoLabel(BSTR, BSTR) override { return E_FAIL; }
  STDMETHODIMP TCurrentFrame(BSTR target, long* frame) override;
  STDMETHODIMP TCurrentLabel(BSTR target, BSTR* label) override;
  STDMETHODIMP TPlay(BSTR target) override;
  STDMETHODIMP TStopPlay(BSTR target) override;
  STDMETHODIMP SetVariable(BSTR name, BSTR value) override;
  STDMETHODIMP GetVariable(BSTR name, BSTR* value) override;
  STDMETHODIMP TSetProperty(BSTR, int, BSTR) override { return S_OK; }
  STDMETHODIMP TGetProperty(BSTR target, int property, BSTR* value) override;
  STDMETHODIMP TCallFrame(BSTR, int) override { return E_FAIL; }
  STDMETHODIMP TCallLabel(BSTR, BSTR) override { return E_FAIL; }
  STDMETHODIMP TSetPropertyNum(BSTR, int, double) override { return S_OK; }
  STDMETHODIMP TGetPropertyNum(BSTR target, int property, double* value) override;
  STDMETHODIMP TGetPropertyAsNumber(BSTR target, int property, double* value) override {
    return TGetPropertyNum(target, property, value);
  }
  STDMETHODIMP get_SWRemote(BSTR* v) override { return GetString(swRemote_, v); }
  STDMETHODIMP put_SWRemote(BSTR v) override { return PutString(swRemote_, v); }
  STDMETHODIMP get_FlashVars(BSTR* v) override { return GetString(flashVars_, v); }
  STDMETHODIMP put_FlashVars(BSTR v) override { return PutString(flashVars_, v); }
  STDMETHODIMP get_AllowScriptAccess(BSTR* v) override { return GetString(allowScript_, v); }
  STDMETHODIMP put_AllowScriptAccess(BSTR v) override { return PutString(allowScript_, v); }
  STDMETHODIMP get_MovieData(BSTR* v) override { return GetString(movieData_, v); }
  STDMETHODIMP put_MovieData(BSTR v) override { return PutString(movieData_, v); }
  STDMETHODIMP get_InlineData(IUnknown** v) override;
  STDMETHODIMP put_InlineData(IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP get_SeamlessTabbing(VARIANT_BOOL* v) override { return GetBool(seamless_, v); }
  STDMETHODIMP put_SeamlessTabbing(VARIANT_BOOL v) override { return PutBool(seamless_, v); }
  STDMETHODIMP EnforceLocalSecurity() override { return S_OK; }
  STDMETHODIMP get_Profile(VARIANT_BOOL* v) override { return GetBool(profile_, v); }
  STDMETHODIMP put_Profile(VARIANT_BOOL v) override { return PutBool(profile_, v); }
  STDMETHODIMP get_ProfileAddress(BSTR* v) override { return GetString(profileAddress_, v); }
  STDMETHODIMP put_ProfileAddress(BSTR v) override { return PutString(profileAddress_, v); }
  STDMETHODIMP get_ProfilePort(long* v) override;
  STDMETHODIMP put_ProfilePort(long v) override;
  STDMETHODIMP CallFunction(BSTR request, BSTR* response) override;
  STDMETHODIMP SetReturnValue(BSTR value) override;
  STDMETHODIMP DisableLocalSecurity() override { return S_OK; }
  STDMETHODIMP get_AllowNetworking(BSTR* v) override { return GetString(allowNetworking_, v); }
  STDMETHODIMP put_AllowNetworking(BSTR v) override { return PutString(allowNetworking_, v); }
  STDMETHODIMP get_AllowFullScreen(BSTR* v) override { return GetString(allowFullScreen_, v); }
  STDMETHODIMP put_AllowFullScreen(BSTR v) override { return PutString(allowFullScreen_, v); }

  // For the test surface.
  DWORD OwnerThread() const { return ownerThread_; }
  // The object runs the message loop of a thread made for it; its end ends that loop.
  void SetOwnsThread() { ownsThread_ = true; }
  HRESULT RunOnOwnerThread(const std::function<HRESULT()>& work);
  // Fires one of the four events with the given arguments; returns the sinks called.
  int FireEvent(DISPID id, const std::wstring& text1, const std::wstring& text2, long number,
                HRESULT* lastResult, std::wstring* returnValue);
  std::wstring ResolveRequest(int level, const std::wstring& relative) const override;
  void FillReport(Report& report) const;

  // Window procedure of both windows of the object (the in-place window and its hidden
  // message window).
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  ~FlashObject();
  HRESULT GetInt(int v, int* out) const;
  HRESULT PutInt(int& field, int v);
  HRESULT GetBool(bool v, VARIANT_BOOL* out) const;
  HRESULT PutBool(bool& field, VARIANT_BOOL v);
  HRESULT GetString(const std::wstring& v, BSTR* out) const;
  HRESULT PutString(std::wstring& field, BSTR v);

  HRESULT InPlaceActivate(bool uiActivate, const RECT* pos);
  void LogSite(const wchar_t* call);
  void QueryAmbient();

  // PlayerHost
  void OnReadyState(long state) override;
  void OnProgress(long percent) override;
  void OnFsCommand(const std::string& command, const std::string& args) override;
  std::string OnExternalCall(const std::string& request) override;
  void OnNavigate(const std::wstring& url, const std::wstring& target) override;
  void OnChanged() override;

  // Goes to a frame of a level's timeline and repaints; E_FAIL when there is no such level.
  HRESULT GotoLevelFrame(Player::Level* level, long frame);
  void Paint(HDC dc, const RECT& client);
  StageSettings Stage() const;
  ButtonHit ButtonUnder(POINT point);
  void OnMouseDown(POINT point);
  void OnMouseUp(POINT point);
  // True when a button had the key.
  bool OnKey(uint8_t key);
  void UpdateCursor();
  void ShowContextMenu(int x, int y);
  COLORREF BackgroundRgb() const;

  LONG refs_ = 1;
  DWORD ownerThread_;
  bool ownsThread_ = false;
  HWND messageWindow_ = nullptr;
  HWND window_ = nullptr;
  bool inPlaceActive_ = false;
  bool uiActive_ = false;
  ComPtr<IOleClientSite> clientSite_;
  ComPtr<IOleInPlaceSite> inPlaceSite_;
  ComPtr<IOleInPlaceFrame> frame_;
  ComPtr<IOleAdviseHolder> adviseHolder_;
  ConnectionPoint events_;
  ConnectionPoint propertyNotify_;
  SIZEL extent_{};
  int freezeCount_ = 0;
  BoundedLog siteCalls_;
  BoundedLog eventLog_;
  bool ambientUserMode_ = true;

  long readyState_ = 4;
  std::wstring movie_, base_, wmode_ = L"Window", salign_, scale_ = L"ShowAll", quality2_ = L"High",
                              swRemote_, flashVars_, allowScript_ = L"sameDomain", movieData_,
                              profileAddress_, allowNetworking_ = L"all",
                              allowFullScreen_ = L"false";
  int quality_ = 1, scaleMode_ = 0, alignMode_ = 0;
  std::wstring stageScale_ = L"ShowAll", stageAlign_;  // what the stage follows
  long profilePort_ = 0;
  long backgroundOverride_ = -1;
  bool menu_ = true, deviceFont_ = false, embedMovie_ = false, seamless_ = true, profile_ = false;
  bool inFlashCall_ = false;
  std::wstring returnValue_;
  ButtonHit pressed_;  // the button under the mouse since its press
  // Last: its loads are stopped before the rest of the object goes.
  Player player_{*this};
#ifdef STANDIN_TEST_SURFACE
  std::shared_ptr<void> closingWorker_ = StartClosingWorker();  // last: the player is there
#endif
};

}  // namespace standin
