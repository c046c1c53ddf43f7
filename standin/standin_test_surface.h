// The stand-in Flash runtime's private test surface. Self-contained on purpose: a host test
// includes this header for the IID and the vtable only and links nothing of the stand-in.
//
// How to reach it:
//   - QueryInterface(IID_IStandInTestSurface) on any ShockwaveFlash object the stand-in made
//     (the surface is then bound to that object: FireEvent and GetReport work on it);
//   - or the export StandInGetTestSurface(REFIID, void**) / DllGetClassObject with
//     CLSID_StandInTestSurface, for a surface bound to no object (FireEvent fails with
//     E_UNEXPECTED until CreateObject has made one).
//
// Threads: every operation with a `thread` argument runs on the thread it names and the call
// returns when the operation is done; while it waits, the calling thread keeps dispatching its
// window messages (so a host that marshals work to its GUI thread while the call is waiting on
// it still gets through).
//   STANDIN_ON_CALLER  the calling thread;
//   STANDIN_ON_WORKER  a new worker thread (COM initialised single-threaded, messages pumped);
//   STANDIN_ON_OBJECT  the thread that made the bound object (through its message window).
//
// Reports are UTF-16 text, one "key=value" per line, lines ended by '\n'. `bytes` outputs are
// byte BSTRs (SysAllocStringByteLen): their length is SysStringByteLen. Every output is
// cleared first and owned by the caller (SysFreeString, Release).
#pragma once

#include <objbase.h>
#include <oaidl.h>

// {6C1D4E52-0B8A-4F0E-9D27-5E3A1B7C9F41}
static const IID IID_IStandInTestSurface = {
    0x6C1D4E52, 0x0B8A, 0x4F0E, {0x9D, 0x27, 0x5E, 0x3A, 0x1B, 0x7C, 0x9F, 0x41}};
// {6C1D4E53-0B8A-4F0E-9D27-5E3A1B7C9F41}
static const CLSID CLSID_StandInTestSurface = {
    0x6C1D4E53, 0x0B8A, 0x4F0E, {0x9D, 0x27, 0x5E, 0x3A, 0x1B, 0x7C, 0x9F, 0x41}};

enum StandInThread { STANDIN_ON_CALLER = 0, STANDIN_ON_WORKER = 1, STANDIN_ON_OBJECT = 2 };

// Resources of the stand-in module, for LoadCursorResource and LoadMenuResource.
enum StandInResource {
  STANDIN_CURSOR_HAND = 101,  // also under the name "FLASHHAND"
  STANDIN_MENU_CONTEXT = 201  // also under the name "FLASHMENU"
};

// PrepareCode flags.
enum StandInCodeFlags {
  STANDIN_CODE_GUARD = 1  // commit the code page with PAGE_GUARD inside a reserved region
};

struct IStandInTestSurface : public IUnknown {
  // slot 3. A new ShockwaveFlash object made on `thread`, asked for riid.
  virtual HRESULT STDMETHODCALLTYPE CreateObject(LONG thread, REFIID riid, void **object) = 0;

  // slot 4. Fetches `url` as the runtime fetches movies: CreateURLMoniker(NULL, url),
  // CreateBindCtx, RegisterBindStatusCallback with the runtime's own callback (which also
  // answers IHttpNegotiate), BindToStorage(IID_IStream); data taken from the IStream medium of
  // OnDataAvailable, until OnStopBinding or timeoutMs. Report keys: hr (BindToStorage result),
  // stopped (0/1), stop_hr, response_code, header (OnResponse header text, CR LF escaped as
  // \r \n), sequence (the callback's notifications, comma separated, e.g.
  // "QueryInterface(IHttpNegotiate),OnResponse(200),OnStartBinding,GetBindInfo,
  // OnDataAvailable(5:30),OnStopBinding(0x00000000)"), bytes, thread ("worker"/"caller"/"object").
  virtual HRESULT STDMETHODCALLTYPE BindUrl(LONG thread, LPCWSTR url, LONG timeoutMs, BSTR *bytes,
                                            BSTR *report) = 0;

  // slot 5. `relative` resolved as the bound object resolves a movie's request (Base when set,
  // else the level-0 movie URL's folder). Without a bound object: returned unchanged.
  virtual HRESULT STDMETHODCALLTYPE ResolveUrl(LPCWSTR relative, BSTR *absolute) = 0;

  // slot 6. CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), GetFileSize,
  // GetFileSizeEx (looked up with GetProcAddress), SetFilePointer(offset, FILE_BEGIN), ReadFile
  // to the end in 4 KiB pieces, SetFilePointerEx(0, FILE_CURRENT) and CloseHandle. A file://
  // URL is turned into a path first (percent escapes decoded). Report keys: path, handle_valid,
  // error (GetLastError of a failed open), size, size_ex, seek, reads, bytes, position, closed.
  virtual HRESULT STDMETHODCALLTYPE ReadFile(LONG thread, LPCWSTR path, LONG offset, BSTR *bytes,
                                             BSTR *report) = 0;

  // slot 7. Fires one event of _IShockwaveFlashEvents on the bound object's sinks:
  // -609 OnReadyStateChange(number), 1958 OnProgress(number), 150 FSCommand(text1, text2),
  // 197 FlashCall(text1). Report keys: dispid, sinks (how many were called), hr (last Invoke
  // result), return_value (what SetReturnValue gave during a FlashCall; empty otherwise).
  virtual HRESULT STDMETHODCALLTYPE FireEvent(LONG thread, LONG dispid, LPCWSTR text1,
                                              LPCWSTR text2, LONG number, BSTR *report) = 0;

  // slot 8. RegisterClassExW(className, the module's handle) and a hidden message-only window
  // of that class by CreateWindowExW. Report keys: atom (nonzero when registered), error,
  // window (1 when created), window_class (GetClassNameW of the window), wndproc_called (1 when
  // the class's window procedure received WM_CREATE).
  virtual HRESULT STDMETHODCALLTYPE RegisterWindowClass(LONG thread, LPCWSTR className,
                                                        BSTR *report) = 0;

  // slot 9. LoadCursorA(module handle, name ? name : MAKEINTRESOURCEA(id)). Report keys:
  // cursor (1 when a handle came back), width, height (GetIconInfo of the cursor).
  virtual HRESULT STDMETHODCALLTYPE LoadCursorResource(LONG thread, LONG id, LPCSTR name,
                                                       BSTR *report) = 0;

  // slot 10. LoadMenuA(module handle, name ? name : MAKEINTRESOURCEA(id)). Report keys:
  // menu (1 when a handle came back), items (GetMenuItemCount of the bar), item<i> (texts);
  // for a popup item also item<i>_items and item<i>_<j>. STANDIN_MENU_CONTEXT is one popup
  // "Flash" of 6 items ("&Play", "&Loop", "&Rewind", "&Forward", "&Back", "About ...").
  virtual HRESULT STDMETHODCALLTYPE LoadMenuResource(LONG thread, LONG id, LPCSTR name,
                                                     BSTR *report) = 0;

  // slot 11. GetProcAddress(GetModuleHandleA(module) or LoadLibraryA(module), name). Report
  // keys: module (1 when found), proc (1 when an address came back), address (hex).
  virtual HRESULT STDMETHODCALLTYPE LookupProc(LONG thread, LPCSTR module, LPCSTR name,
                                               BSTR *report) = 0;

  // slot 12. VirtualAlloc of a code page, a small function written into it,
  // FlushInstructionCache, then (when the page is executable and not a guard page) a call of
  // it. Report keys: alloc (1/0), protect_before, protect_after (VirtualQuery, hex), flushed,
  // ran (1 when the function ran), result (its return value, 0x57A4D1E5 when it ran).
  virtual HRESULT STDMETHODCALLTYPE PrepareCode(LONG thread, LONG flags, BSTR *report) = 0;

  // slot 13. A 50 ms tone: waveOutOpen(WAVE_MAPPER, 8 kHz 16-bit mono), waveOutPrepareHeader,
  // waveOutWrite, wait for WHDR_DONE (1 s at most), unprepare, waveOutClose. A machine without a
  // sound device only makes open fail. Report keys: open, write, close (MMRESULTs, decimal),
  // done (1/0), checksum_before, checksum_after (sum of the buffer's bytes around the write).
  virtual HRESULT STDMETHODCALLTYPE PlaySound(LONG thread, BSTR *report) = 0;

  // slot 14. bound (1/0), live (objects, factories, surfaces and worker threads of the module
  // still alive, this surface included). For a bound surface also the object's state: movie,
  // base, ready_state, total_frames, frame, playing,
  // bytes (of the level-0 movie), levels (loaded level numbers), level<N>_url, level<N>_frame,
  // level<N>_frames, background (hex RRGGBB), window (1 when in-place active), extent_cx,
  // extent_cy (HIMETRIC), events (the events fired, e.g. "-609(0),1958(100),150(a|b)"),
  // site_calls (container methods the object called, in order), fetches (URLs fetched, in
  // order, separated by '|'), retired_bytes (what finished fetches still hold), error (the last
  // load error text).
  virtual HRESULT STDMETHODCALLTYPE GetReport(BSTR *report) = 0;
};

// Exported by flash_test.ocx, the test variant of the module, built from the same sources as
// flash.ocx (which books carry, and which has no test surface at all). Also reachable through
// DllGetClassObject, see above.
typedef HRESULT(STDAPICALLTYPE *StandInGetTestSurfaceProc)(REFIID riid, void **object);
