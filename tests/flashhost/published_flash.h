// The runtime's interface as the published table lists it, declared by the tests themselves: the
// fake runtime answers through these, so a member out of place in the host's own declarations
// reaches a different member of the fake and fails the tests that call it.
#pragma once

#include <oaidl.h>
#include <windows.h>

namespace pageturn::test::published {

// {D27CDB6E-AE6D-11CF-96B8-444553540000}
inline constexpr CLSID CLSID_ShockwaveFlash = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {D27CDB6C-AE6D-11CF-96B8-444553540000}: one IID for every layout
inline constexpr IID IID_IShockwaveFlash = {
    0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {D27CDB6D-AE6D-11CF-96B8-444553540000}
inline constexpr IID DIID_IShockwaveFlashEvents = {
    0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Slots 7 to 72, the same in every release.
struct IShockwaveFlashCommon : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_ReadyState(long* pVal) = 0;       // 7
  virtual HRESULT STDMETHODCALLTYPE get_TotalFrames(long* pVal) = 0;      // 8
  virtual HRESULT STDMETHODCALLTYPE get_Playing(VARIANT_BOOL* pVal) = 0;  // 9
  virtual HRESULT STDMETHODCALLTYPE put_Playing(VARIANT_BOOL pVal) = 0;   // 10
  virtual HRESULT STDMETHODCALLTYPE get_Quality(int* pVal) = 0;           // 11
  virtual HRESULT STDMETHODCALLTYPE put_Quality(int pVal) = 0;            // 12
  virtual HRESULT STDMETHODCALLTYPE get_ScaleMode(int* pVal) = 0;         // 13
  virtual HRESULT STDMETHODCALLTYPE put_ScaleMode(int pVal) = 0;          // 14
  virtual HRESULT STDMETHODCALLTYPE get_AlignMode(int* pVal) = 0;         // 15
  virtual HRESULT STDMETHODCALLTYPE put_AlignMode(int pVal) = 0;          // 16
  virtual HRESULT STDMETHODCALLTYPE get_BackgroundColor(long* pVal) = 0;  // 17
  virtual HRESULT STDMETHODCALLTYPE put_BackgroundColor(long pVal) = 0;   // 18
  virtual HRESULT STDMETHODCALLTYPE get_Loop(VARIANT_BOOL* pVal) = 0;     // 19
  virtual HRESULT STDMETHODCALLTYPE put_Loop(VARIANT_BOOL pVal) = 0;      // 20
  virtual HRESULT STDMETHODCALLTYPE get_Movie(BSTR* pVal) = 0;            // 21
  virtual HRESULT STDMETHODCALLTYPE put_Movie(BSTR pVal) = 0;             // 22
  virtual HRESULT STDMETHODCALLTYPE get_FrameNum(long* pVal) = 0;         // 23
  virtual HRESULT STDMETHODCALLTYPE put_FrameNum(long pVal) = 0;          // 24
  virtual HRESULT STDMETHODCALLTYPE SetZoomRect(long left, long top, long right,
                                                long bottom) = 0;                             // 25
  virtual HRESULT STDMETHODCALLTYPE Zoom(int factor) = 0;                                     // 26
  virtual HRESULT STDMETHODCALLTYPE Pan(long x, long y, int mode) = 0;                        // 27
  virtual HRESULT STDMETHODCALLTYPE Play() = 0;                                               // 28
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                               // 29
  virtual HRESULT STDMETHODCALLTYPE Back() = 0;                                               // 30
  virtual HRESULT STDMETHODCALLTYPE Forward() = 0;                                            // 31
  virtual HRESULT STDMETHODCALLTYPE Rewind() = 0;                                             // 32
  virtual HRESULT STDMETHODCALLTYPE StopPlay() = 0;                                           // 33
  virtual HRESULT STDMETHODCALLTYPE GotoFrame(long FrameNum) = 0;                             // 34
  virtual HRESULT STDMETHODCALLTYPE CurrentFrame(long* FrameNum) = 0;                         // 35
  virtual HRESULT STDMETHODCALLTYPE IsPlaying(VARIANT_BOOL* Playing) = 0;                     // 36
  virtual HRESULT STDMETHODCALLTYPE PercentLoaded(long* percent) = 0;                         // 37
  virtual HRESULT STDMETHODCALLTYPE FrameLoaded(long FrameNum, VARIANT_BOOL* loaded) = 0;     // 38
  virtual HRESULT STDMETHODCALLTYPE FlashVersion(long* version) = 0;                          // 39
  virtual HRESULT STDMETHODCALLTYPE get_WMode(BSTR* pVal) = 0;                                // 40
  virtual HRESULT STDMETHODCALLTYPE put_WMode(BSTR pVal) = 0;                                 // 41
  virtual HRESULT STDMETHODCALLTYPE get_SAlign(BSTR* pVal) = 0;                               // 42
  virtual HRESULT STDMETHODCALLTYPE put_SAlign(BSTR pVal) = 0;                                // 43
  virtual HRESULT STDMETHODCALLTYPE get_Menu(VARIANT_BOOL* pVal) = 0;                         // 44
  virtual HRESULT STDMETHODCALLTYPE put_Menu(VARIANT_BOOL pVal) = 0;                          // 45
  virtual HRESULT STDMETHODCALLTYPE get_Base(BSTR* pVal) = 0;                                 // 46
  virtual HRESULT STDMETHODCALLTYPE put_Base(BSTR pVal) = 0;                                  // 47
  virtual HRESULT STDMETHODCALLTYPE get_Scale(BSTR* pVal) = 0;                                // 48
  virtual HRESULT STDMETHODCALLTYPE put_Scale(BSTR pVal) = 0;                                 // 49
  virtual HRESULT STDMETHODCALLTYPE get_DeviceFont(VARIANT_BOOL* pVal) = 0;                   // 50
  virtual HRESULT STDMETHODCALLTYPE put_DeviceFont(VARIANT_BOOL pVal) = 0;                    // 51
  virtual HRESULT STDMETHODCALLTYPE get_EmbedMovie(VARIANT_BOOL* pVal) = 0;                   // 52
  virtual HRESULT STDMETHODCALLTYPE put_EmbedMovie(VARIANT_BOOL pVal) = 0;                    // 53
  virtual HRESULT STDMETHODCALLTYPE get_BGColor(BSTR* pVal) = 0;                              // 54
  virtual HRESULT STDMETHODCALLTYPE put_BGColor(BSTR pVal) = 0;                               // 55
  virtual HRESULT STDMETHODCALLTYPE get_Quality2(BSTR* pVal) = 0;                             // 56
  virtual HRESULT STDMETHODCALLTYPE put_Quality2(BSTR pVal) = 0;                              // 57
  virtual HRESULT STDMETHODCALLTYPE LoadMovie(int layer, BSTR url) = 0;                       // 58
  virtual HRESULT STDMETHODCALLTYPE TGotoFrame(BSTR target, long FrameNum) = 0;               // 59
  virtual HRESULT STDMETHODCALLTYPE TGotoLabel(BSTR target, BSTR label) = 0;                  // 60
  virtual HRESULT STDMETHODCALLTYPE TCurrentFrame(BSTR target, long* FrameNum) = 0;           // 61
  virtual HRESULT STDMETHODCALLTYPE TCurrentLabel(BSTR target, BSTR* pVal) = 0;               // 62
  virtual HRESULT STDMETHODCALLTYPE TPlay(BSTR target) = 0;                                   // 63
  virtual HRESULT STDMETHODCALLTYPE TStopPlay(BSTR target) = 0;                               // 64
  virtual HRESULT STDMETHODCALLTYPE SetVariable(BSTR name, BSTR value) = 0;                   // 65
  virtual HRESULT STDMETHODCALLTYPE GetVariable(BSTR name, BSTR* pVal) = 0;                   // 66
  virtual HRESULT STDMETHODCALLTYPE TSetProperty(BSTR target, int property, BSTR value) = 0;  // 67
  virtual HRESULT STDMETHODCALLTYPE TGetProperty(BSTR target, int property, BSTR* pVal) = 0;  // 68
  virtual HRESULT STDMETHODCALLTYPE TCallFrame(BSTR target, int FrameNum) = 0;                // 69
  virtual HRESULT STDMETHODCALLTYPE TCallLabel(BSTR target, BSTR label) = 0;                  // 70
  virtual HRESULT STDMETHODCALLTYPE TSetPropertyNum(BSTR target, int property,
                                                    double value) = 0;  // 71
  virtual HRESULT STDMETHODCALLTYPE TGetPropertyNum(BSTR target, int property,
                                                    double* pVal) = 0;  // 72
};

// Runtimes 9 and 10, slots 73 to 99 (later runtimes only append).
struct IShockwaveFlash : public IShockwaveFlashCommon {
  virtual HRESULT STDMETHODCALLTYPE TGetPropertyAsNumber(BSTR target, int property,
                                                         double* pVal) = 0;          // 73
  virtual HRESULT STDMETHODCALLTYPE get_SWRemote(BSTR* pVal) = 0;                    // 74
  virtual HRESULT STDMETHODCALLTYPE put_SWRemote(BSTR pVal) = 0;                     // 75
  virtual HRESULT STDMETHODCALLTYPE get_FlashVars(BSTR* pVal) = 0;                   // 76
  virtual HRESULT STDMETHODCALLTYPE put_FlashVars(BSTR pVal) = 0;                    // 77
  virtual HRESULT STDMETHODCALLTYPE get_AllowScriptAccess(BSTR* pVal) = 0;           // 78
  virtual HRESULT STDMETHODCALLTYPE put_AllowScriptAccess(BSTR pVal) = 0;            // 79
  virtual HRESULT STDMETHODCALLTYPE get_MovieData(BSTR* pVal) = 0;                   // 80
  virtual HRESULT STDMETHODCALLTYPE put_MovieData(BSTR pVal) = 0;                    // 81
  virtual HRESULT STDMETHODCALLTYPE get_InlineData(IUnknown** ppIUnknown) = 0;       // 82
  virtual HRESULT STDMETHODCALLTYPE put_InlineData(IUnknown* ppIUnknown) = 0;        // 83
  virtual HRESULT STDMETHODCALLTYPE get_SeamlessTabbing(VARIANT_BOOL* pVal) = 0;     // 84
  virtual HRESULT STDMETHODCALLTYPE put_SeamlessTabbing(VARIANT_BOOL pVal) = 0;      // 85
  virtual HRESULT STDMETHODCALLTYPE EnforceLocalSecurity() = 0;                      // 86
  virtual HRESULT STDMETHODCALLTYPE get_Profile(VARIANT_BOOL* pVal) = 0;             // 87
  virtual HRESULT STDMETHODCALLTYPE put_Profile(VARIANT_BOOL pVal) = 0;              // 88
  virtual HRESULT STDMETHODCALLTYPE get_ProfileAddress(BSTR* pVal) = 0;              // 89
  virtual HRESULT STDMETHODCALLTYPE put_ProfileAddress(BSTR pVal) = 0;               // 90
  virtual HRESULT STDMETHODCALLTYPE get_ProfilePort(long* pVal) = 0;                 // 91
  virtual HRESULT STDMETHODCALLTYPE put_ProfilePort(long pVal) = 0;                  // 92
  virtual HRESULT STDMETHODCALLTYPE CallFunction(BSTR request, BSTR* response) = 0;  // 93
  virtual HRESULT STDMETHODCALLTYPE SetReturnValue(BSTR returnValue) = 0;            // 94
  virtual HRESULT STDMETHODCALLTYPE DisableLocalSecurity() = 0;                      // 95
  virtual HRESULT STDMETHODCALLTYPE get_AllowNetworking(BSTR* pVal) = 0;             // 96
  virtual HRESULT STDMETHODCALLTYPE put_AllowNetworking(BSTR pVal) = 0;              // 97
  virtual HRESULT STDMETHODCALLTYPE get_AllowFullScreen(BSTR* pVal) = 0;             // 98
  virtual HRESULT STDMETHODCALLTYPE put_AllowFullScreen(BSTR pVal) = 0;              // 99
};

// Version 5 from slot 73; the oldest runtimes end after put_SWRemote.
struct IShockwaveFlash5 : public IShockwaveFlashCommon {
  virtual HRESULT STDMETHODCALLTYPE get_SWRemote(BSTR* pVal) = 0;  // 73
  virtual HRESULT STDMETHODCALLTYPE put_SWRemote(BSTR pVal) = 0;   // 74
  virtual HRESULT STDMETHODCALLTYPE get_Stacking(BSTR* pVal) = 0;  // 75
  virtual HRESULT STDMETHODCALLTYPE put_Stacking(BSTR pVal) = 0;   // 76
};

}  // namespace pageturn::test::published
