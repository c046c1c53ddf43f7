// The Flash runtime's published COM interfaces as the host calls them: IShockwaveFlash in the
// layout of runtimes 9 and 10 (every later runtime only appends), the older tails that versions 4
// and 5 have after TGetPropertyNum, and the event dispinterface's ids. Declared here, by vtable
// position, because the runtime ships no headers and the three layouts share one IID.
#pragma once

#ifndef _WIN32
#error "flashhost/shockwave_flash.h is for the Windows build only"
#endif

#include <windows.h>
#include <oaidl.h>
#include <objbase.h>

namespace pageturn {

// {D27CDB6E-AE6D-11cf-96B8-444553540000}
inline constexpr CLSID CLSID_ShockwaveFlash = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {D27CDB6C-AE6D-11CF-96B8-444553540000}
inline constexpr IID IID_IShockwaveFlash = {
    0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {D27CDB6D-AE6D-11CF-96B8-444553540000}
inline constexpr IID DIID_IShockwaveFlashEvents = {
    0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Event ids of _IShockwaveFlashEvents.
constexpr DISPID DISPID_FlashReadyStateChange = -609;
constexpr DISPID DISPID_FlashFSCommand = 150;
constexpr DISPID DISPID_FlashFlashCall = 197;
constexpr DISPID DISPID_FlashProgress = 1958;

// Slots 7 to 72: the same in every release.
struct IShockwaveFlashCommon : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_ReadyState(long* value) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE get_TotalFrames(long* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Playing(VARIANT_BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Playing(VARIANT_BOOL value) = 0;  // 10
  virtual HRESULT STDMETHODCALLTYPE get_Quality(int* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Quality(int value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ScaleMode(int* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ScaleMode(int value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AlignMode(int* value) = 0;  // 15
  virtual HRESULT STDMETHODCALLTYPE put_AlignMode(int value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BackgroundColor(long* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_BackgroundColor(long value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Loop(VARIANT_BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Loop(VARIANT_BOOL value) = 0;  // 20
  virtual HRESULT STDMETHODCALLTYPE get_Movie(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Movie(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FrameNum(long* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_FrameNum(long value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetZoomRect(long left, long top, long right,
                                                long bottom) = 0;  // 25
  virtual HRESULT STDMETHODCALLTYPE Zoom(int factor) = 0;
  virtual HRESULT STDMETHODCALLTYPE Pan(long x, long y, int mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE Play() = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Back() = 0;  // 30
  virtual HRESULT STDMETHODCALLTYPE Forward() = 0;
  virtual HRESULT STDMETHODCALLTYPE Rewind() = 0;
  virtual HRESULT STDMETHODCALLTYPE StopPlay() = 0;
  virtual HRESULT STDMETHODCALLTYPE GotoFrame(long frameNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE CurrentFrame(long* frameNum) = 0;  // 35
  virtual HRESULT STDMETHODCALLTYPE IsPlaying(VARIANT_BOOL* playing) = 0;
  virtual HRESULT STDMETHODCALLTYPE PercentLoaded(long* percent) = 0;
  virtual HRESULT STDMETHODCALLTYPE FrameLoaded(long frameNum, VARIANT_BOOL* loaded) = 0;
  virtual HRESULT STDMETHODCALLTYPE FlashVersion(long* version) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_WMode(BSTR* value) = 0;  // 40
  virtual HRESULT STDMETHODCALLTYPE put_WMode(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SAlign(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_SAlign(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Menu(VARIANT_BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Menu(VARIANT_BOOL value) = 0;  // 45
  virtual HRESULT STDMETHODCALLTYPE get_Base(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Base(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Scale(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Scale(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DeviceFont(VARIANT_BOOL* value) = 0;  // 50
  virtual HRESULT STDMETHODCALLTYPE put_DeviceFont(VARIANT_BOOL value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_EmbedMovie(VARIANT_BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_EmbedMovie(VARIANT_BOOL value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BGColor(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_BGColor(BSTR value) = 0;  // 55
  virtual HRESULT STDMETHODCALLTYPE get_Quality2(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Quality2(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadMovie(int layer, BSTR url) = 0;
  virtual HRESULT STDMETHODCALLTYPE TGotoFrame(BSTR target, long frameNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE TGotoLabel(BSTR target, BSTR label) = 0;  // 60
  virtual HRESULT STDMETHODCALLTYPE TCurrentFrame(BSTR target, long* frameNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE TCurrentLabel(BSTR target, BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE TPlay(BSTR target) = 0;
  virtual HRESULT STDMETHODCALLTYPE TStopPlay(BSTR target) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetVariable(BSTR name, BSTR value) = 0;  // 65
  virtual HRESULT STDMETHODCALLTYPE GetVariable(BSTR name, BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE TSetProperty(BSTR target, int property, BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE TGetProperty(BSTR target, int property, BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE TCallFrame(BSTR target, int frameNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE TCallLabel(BSTR target, BSTR label) = 0;  // 70
  virtual HRESULT STDMETHODCALLTYPE TSetPropertyNum(BSTR target, int property, double value) = 0;
  virtual HRESULT STDMETHODCALLTYPE TGetPropertyNum(BSTR target, int property,
                                                    double* value) = 0;  // 72
};

// The layout of runtime 7 onwards, as of 9.0.28.0: slots 73 to 99.
struct IShockwaveFlash : public IShockwaveFlashCommon {
  virtual HRESULT STDMETHODCALLTYPE TGetPropertyAsNumber(BSTR target, int property,
                                                         double* value) = 0;  // 73
  virtual HRESULT STDMETHODCALLTYPE get_SWRemote(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_SWRemote(BSTR value) = 0;  // 75
  virtual HRESULT STDMETHODCALLTYPE get_FlashVars(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_FlashVars(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AllowScriptAccess(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AllowScriptAccess(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MovieData(BSTR* value) = 0;  // 80
  virtual HRESULT STDMETHODCALLTYPE put_MovieData(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_InlineData(IUnknown** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_InlineData(IUnknown* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SeamlessTabbing(VARIANT_BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_SeamlessTabbing(VARIANT_BOOL value) = 0;  // 85
  virtual HRESULT STDMETHODCALLTYPE EnforceLocalSecurity() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Profile(VARIANT_BOOL* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Profile(VARIANT_BOOL value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProfileAddress(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProfileAddress(BSTR value) = 0;  // 90
  virtual HRESULT STDMETHODCALLTYPE get_ProfilePort(long* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProfilePort(long value) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallFunction(BSTR request, BSTR* response) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetReturnValue(BSTR returnValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisableLocalSecurity() = 0;  // 95
  virtual HRESULT STDMETHODCALLTYPE get_AllowNetworking(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AllowNetworking(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AllowFullScreen(BSTR* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AllowFullScreen(BSTR value) = 0;  // 99
};

// The tail of runtimes 4 and 5: SWRemote right after TGetPropertyNum; version 5 adds Stacking
// (a version 4 runtime has no slots past 74).
struct IShockwaveFlash5 : public IShockwaveFlashCommon {
  virtual HRESULT STDMETHODCALLTYPE get_SWRemote(BSTR* value) = 0;  // 73
  virtual HRESULT STDMETHODCALLTYPE put_SWRemote(BSTR value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Stacking(BSTR* value) = 0;  // 75
  virtual HRESULT STDMETHODCALLTYPE put_Stacking(BSTR value) = 0;
};

}  // namespace pageturn
