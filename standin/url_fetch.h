// How the stand-in runtime fetches a URL: CreateURLMoniker, a bind context of its own with its
// own IBindStatusCallback (which also answers IHttpNegotiate) registered by
// RegisterBindStatusCallback, and BindToStorage for an IStream. The data comes from the IStream
// medium of OnDataAvailable. Run on a worker thread; the notifications may arrive on any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bounded_log.h"

namespace standin {

struct FetchResult {
  HRESULT bindResult = E_FAIL;  // what BindToStorage returned
  bool stopped = false;         // OnStopBinding arrived (or a synchronous bind returned S_OK)
  HRESULT stopResult = E_FAIL;
  long responseCode = 0;
  std::wstring header;  // OnResponse header text
  BoundedLog sequence;  // the callback's notifications, in order (the newest)
  std::vector<uint8_t> bytes;
  bool tooLarge = false;  // more than kMaxFetchBytes arrived: the bind was aborted
  bool stalled = false;   // no data for FetchStallMs: given up (stopResult says ERROR_TIMEOUT)
  bool Succeeded() const { return stopped && SUCCEEDED(stopResult) && !tooLarge && !stalled; }
};

// A source that sends nothing for this long is given up, so that it does not hold its load slot
// (and its thread) for ever. The test variant may shorten it.
inline constexpr DWORD kFetchStallMs = 30000;
extern DWORD FetchStallMs;

// No movie of the subset is larger (the reader's own limit); a fetch that brings more is
// cut off there, whatever its header claimed.
inline constexpr size_t kMaxFetchBytes = 64u * 1024u * 1024u;

// Blocks until the bind stops, `cancel` is signalled (may be null), timeoutMs passes or no
// data has come for FetchStallMs, pumping this thread's messages meanwhile. `progress` (may be
// empty) gets the running byte count and the expected total (0 when unknown: from Content-Length,
// the moniker's progress maximum, or an uncompressed SWF's FileLength) from whatever thread
// delivers data.
FetchResult FetchUrl(const std::wstring& url, HANDLE cancel, DWORD timeoutMs,
                     const std::function<void(size_t received, size_t expected)>& progress);

}  // namespace standin
