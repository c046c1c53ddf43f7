// IShockwaveFlash as runtimes 9 and 10 publish it (slots 0 to 99), and the identifiers of
// the ShockwaveFlashObjects library. Called by position: the order below is the contract.
#pragma once

#include <ole2.h>

namespace standin {

// {D27CDB6E-AE6D-11cf-96B8-444553540000}
inline constexpr CLSID kClsidShockwaveFlash = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {D27CDB6C-AE6D-11CF-96B8-444553540000}
inline constexpr IID kIidShockwaveFlash = {
    0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {D27CDB6D-AE6D-11CF-96B8-444553540000}
inline constexpr IID kDiidShockwaveFlashEvents = {
    0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// _IShockwaveFlashEvents
inline constexpr DISPID kDispidReadyStateChange = -609;
inline constexpr DISPID kDispidProgress = 1958;
inline constexpr DISPID kDispidFSCommand = 150;
inline constexpr DISPID kDispidFlashCall = 197;

struct IShockwaveFlash : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_ReadyState(long *pVal) = 0;  // slot 7
  virtual HRESULT STDMETHODCALLTYPE get_TotalFrames(long *pVal) = 0;  // slot 8
  virtual HRESULT STDMETHODCALLTYPE get_Playing(VARIANT_BOOL *pVal) = 0;  // slot 9
  virtual HRESULT STDMETHODCALLTYPE put_Playing(VARIANT_BOOL pVal) = 0;  // slot 10
  virtual HRESULT STDMETHODCALLTYPE get_Quality(int *pVal) = 0;  // slot 11
  virtual HRESULT STDMETHODCALLTYPE put_Quality(int pVal) = 0;  // slot 12
  virtual HRESULT STDMETHODCALLTYPE get_ScaleMode(int *pVal) = 0;  // slot 13
  virtual HRESULT STDMETHODCALLTYPE put_ScaleMode(int pVal) = 0;  // slot 14
  virtual HRESULT STDMETHODCALLTYPE get_AlignMode(int *pVal) = 0;  // slot 15
  virtual HRESULT STDMETHODCALLTYPE put_AlignMode(int pVal) = 0;  // slot 16
  virtual HRESULT STDMETHODCALLTYPE get_BackgroundColor(long *pVal) = 0;  // slot 17
  virtual HRESULT STDMETHODCALLTYPE put_BackgroundColor(long pVal) = 0;  // slot 18
  virtual HRESULT STDMETHODCALLTYPE get_Loop(VARIANT_BOOL *pVal) = 0;  // slot 19
  virtual HRESULT STDMETHODCALLTYPE put_Loop(VARIANT_BOOL pVal) = 0;  // slot 20
  virtual HRESULT STDMETHODCALLTYPE get_Movie(BSTR *pVal) = 0;  // slot 21
  virtual HRESULT STDMETHODCALLTYPE put_Movie(BSTR pVal) = 0;  // slot 22
  virtual HRESULT STDMETHODCALLTYPE get_FrameNum(long *pVal) = 0;  // slot 23
  virtual HRESULT STDMETHODCALLTYPE put_FrameNum(long pVal) = 0;  // slot 24
  virtual HRESULT STDMETHODCALLTYPE SetZoomRect(long left, long top, long right, long bottom) = 0;  // slot 25
  virtual HRESULT STDMETHODCALLTYPE Zoom(int factor) = 0;  // slot 26
  virtual HRESULT STDMETHODCALLTYPE Pan(long x, long y, int mode) = 0;  // slot 27
  virtual HRESULT STDMETHODCALLTYPE Play() = 0;  // slot 28
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;  // slot 29
  virtual HRESULT STDMETHODCALLTYPE Back() = 0;  // slot 30
  virtual HRESULT STDMETHODCALLTYPE Forward() = 0;  // slot 31
  virtual HRESULT STDMETHODCALLTYPE Rewind() = 0;  // slot 32
  virtual HRESULT STDMETHODCALLTYPE StopPlay() = 0;  // slot 33
  virtual HRESULT STDMETHODCALLTYPE GotoFrame(long FrameNum) = 0;  // slot 34
  virtual HRESULT STDMETHODCALLTYPE CurrentFrame(long *FrameNum) = 0;  // slot 35
  virtual HRESULT STDMETHODCALLTYPE IsPlaying(VARIANT_BOOL *Playing) = 0;  // slot 36
  virtual HRESULT STDMETHODCALLTYPE PercentLoaded(long *percent) = 0;  // slot 37
  virtual HRESULT STDMETHODCALLTYPE FrameLoaded(long FrameNum, VARIANT_BOOL *loaded) = 0;  // slot 38
  virtual HRESULT STDMETHODCALLTYPE FlashVersion(long *version) = 0;  // slot 39
  virtual HRESULT STDMETHODCALLTYPE get_WMode(BSTR *pVal) = 0;  // slot 40
  virtual HRESULT STDMETHODCALLTYPE put_WMode(BSTR pVal) = 0;  // slot 41
  virtual HRESULT STDMETHODCALLTYPE get_SAlign(BSTR *pVal) = 0;  // slot 42
  virtual HRESULT STDMETHODCALLTYPE put_SAlign(BSTR pVal) = 0;  // slot 43
  virtual HRESULT STDMETHODCALLTYPE get_Menu(VARIANT_BOOL *pVal) = 0;  // slot 44
  virtual HRESULT STDMETHODCALLTYPE put_Menu(VARIANT_BOOL pVal) = 0;  // slot 45
  virtual HRESULT STDMETHODCALLTYPE get_Base(BSTR *pVal) = 0;  // slot 46
  virtual HRESULT STDMETHODCALLTYPE put_Base(BSTR pVal) = 0;  // slot 47
  virtual HRESULT STDMETHODCALLTYPE get_Scale(BSTR *pVal) = 0;  // slot 48
  virtual HRESULT STDMETHODCALLTYPE put_Scale(BSTR pVal) = 0;  // slot 49
  virtual HRESULT STDMETHODCALLTYPE get_DeviceFont(VARIANT_BOOL *pVal) = 0;  // slot 50
  virtual HRESULT STDMETHODCALLTYPE put_DeviceFont(VARIANT_BOOL pVal) = 0;  // slot 51
  virtual HRESULT STDMETHODCALLTYPE get_EmbedMovie(VARIANT_BOOL *pVal) = 0;  // slot 52
  virtual HRESULT STDMETHODCALLTYPE put_EmbedMovie(VARIANT_BOOL pVal) = 0;  // slot 53
  virtual HRESULT STDMETHODCALLTYPE get_BGColor(BSTR *pVal) = 0;  // slot 54
  virtual HRESULT STDMETHODCALLTYPE put_BGColor(BSTR pVal) = 0;  // slot 55
  virtual HRESULT STDMETHODCALLTYPE get_Quality2(BSTR *pVal) = 0;  // slot 56
  virtual HRESULT STDMETHODCALLTYPE put_Quality2(BSTR pVal) = 0;  // slot 57
  virtual HRESULT STDMETHODCALLTYPE LoadMovie(int layer, BSTR url) = 0;  // slot 58
  virtual HRESULT STDMETHODCALLTYPE TGotoFrame(BSTR target, long FrameNum) = 0;  // slot 59
  virtual HRESULT STDMETHODCALLTYPE TGotoLabel(BSTR target, BSTR label) = 0;  // slot 60
  virtual HRESULT STDMETHODCALLTYPE TCurrentFrame(BSTR target, long *FrameNum) = 0;  // slot 61
  virtual HRESULT STDMETHODCALLTYPE TCurrentLabel(BSTR target, BSTR *pVal) = 0;  // slot 62
  virtual HRESULT STDMETHODCALLTYPE TPlay(BSTR target) = 0;  // slot 63
  virtual HRESULT STDMETHODCALLTYPE TStopPlay(BSTR target) = 0;  // slot 64
  virtual HRESULT STDMETHODCALLTYPE SetVariable(BSTR name, BSTR value) = 0;  // slot 65
  virtual HRESULT STDMETHODCALLTYPE GetVariable(BSTR name, BSTR *pVal) = 0;  // slot 66
  virtual HRESULT STDMETHODCALLTYPE TSetProperty(BSTR target, int property, BSTR value) = 0;  // slot 67
  virtual HRESULT STDMETHODCALLTYPE TGetProperty(BSTR target, int property, BSTR *pVal) = 0;  // slot 68
  virtual HRESULT STDMETHODCALLTYPE TCallFrame(BSTR target, int FrameNum) = 0;  // slot 69
  virtual HRESULT STDMETHODCALLTYPE TCallLabel(BSTR target, BSTR label) = 0;  // slot 70
  virtual HRESULT STDMETHODCALLTYPE TSetPropertyNum(BSTR target, int property, double value) = 0;  // slot 71
  virtual HRESULT STDMETHODCALLTYPE TGetPropertyNum(BSTR target, int property, double *pVal) = 0;  // slot 72
  virtual HRESULT STDMETHODCALLTYPE TGetPropertyAsNumber(BSTR target, int property, double *pVal) = 0;  // slot 73
  virtual HRESULT STDMETHODCALLTYPE get_SWRemote(BSTR *pVal) = 0;  // slot 74
  virtual HRESULT STDMETHODCALLTYPE put_SWRemote(BSTR pVal) = 0;  // slot 75
  virtual HRESULT STDMETHODCALLTYPE get_FlashVars(BSTR *pVal) = 0;  // slot 76
  virtual HRESULT STDMETHODCALLTYPE put_FlashVars(BSTR pVal) = 0;  // slot 77
  virtual HRESULT STDMETHODCALLTYPE get_AllowScriptAccess(BSTR *pVal) = 0;  // slot 78
  virtual HRESULT STDMETHODCALLTYPE put_AllowScriptAccess(BSTR pVal) = 0;  // slot 79
  virtual HRESULT STDMETHODCALLTYPE get_MovieData(BSTR *pVal) = 0;  // slot 80
  virtual HRESULT STDMETHODCALLTYPE put_MovieData(BSTR pVal) = 0;  // slot 81
  virtual HRESULT STDMETHODCALLTYPE get_InlineData(IUnknown **ppIUnknown) = 0;  // slot 82
  virtual HRESULT STDMETHODCALLTYPE put_InlineData(IUnknown *ppIUnknown) = 0;  // slot 83
  virtual HRESULT STDMETHODCALLTYPE get_SeamlessTabbing(VARIANT_BOOL *pVal) = 0;  // slot 84
  virtual HRESULT STDMETHODCALLTYPE put_SeamlessTabbing(VARIANT_BOOL pVal) = 0;  // slot 85
  virtual HRESULT STDMETHODCALLTYPE EnforceLocalSecurity() = 0;  // slot 86
  virtual HRESULT STDMETHODCALLTYPE get_Profile(VARIANT_BOOL *pVal) = 0;  // slot 87
  virtual HRESULT STDMETHODCALLTYPE put_Profile(VARIANT_BOOL pVal) = 0;  // slot 88
  virtual HRESULT STDMETHODCALLTYPE get_ProfileAddress(BSTR *pVal) = 0;  // slot 89
  virtual HRESULT STDMETHODCALLTYPE put_ProfileAddress(BSTR pVal) = 0;  // slot 90
  virtual HRESULT STDMETHODCALLTYPE get_ProfilePort(long *pVal) = 0;  // slot 91
  virtual HRESULT STDMETHODCALLTYPE put_ProfilePort(long pVal) = 0;  // slot 92
  virtual HRESULT STDMETHODCALLTYPE CallFunction(BSTR request, BSTR *response) = 0;  // slot 93
  virtual HRESULT STDMETHODCALLTYPE SetReturnValue(BSTR returnValue) = 0;  // slot 94
  virtual HRESULT STDMETHODCALLTYPE DisableLocalSecurity() = 0;  // slot 95
  virtual HRESULT STDMETHODCALLTYPE get_AllowNetworking(BSTR *pVal) = 0;  // slot 96
  virtual HRESULT STDMETHODCALLTYPE put_AllowNetworking(BSTR pVal) = 0;  // slot 97
  virtual HRESULT STDMETHODCALLTYPE get_AllowFullScreen(BSTR *pVal) = 0;  // slot 98
  virtual HRESULT STDMETHODCALLTYPE put_AllowFullScreen(BSTR pVal) = 0;  // slot 99
};

}  // namespace standin
