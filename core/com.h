// Small COM helpers for the host's own COM objects: counted references, the error that carries an
// HRESULT, and the one construct that stops exceptions at a boundary the runtime or the OS calls.
#pragma once

#ifndef _WIN32
#error "core/com.h is for the Windows build only"
#endif

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstdio>
#include <new>

#include "core/error.h"

namespace pageturn {

template <class T>
using ComPtr = Microsoft::WRL::ComPtr<T>;

// Takes over a reference the caller already owns (a new object's first one). Use this, never
// ComPtr::Attach: mingw-w64's Attach adds a reference of its own, unlike the platform's, so an
// attached new object would never be freed.
template <class T>
ComPtr<T> Adopt(T* object) {
  ComPtr<T> owned;
  *owned.GetAddressOf() = object;
  return owned;
}

// A failed mandatory OLE call, raised with its HRESULT.
class OleError : public Error {
 public:
  explicit OleError(HRESULT hr) : Error(Describe(hr)), hr_(hr) {}
  // A failure that has a text of its own ("OLE control activation failed").
  OleError(HRESULT hr, const std::string& message) : Error(message), hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  static std::string Describe(HRESULT hr) {
    char text[32];
    std::snprintf(text, sizeof text, "OLE error %08lX", static_cast<unsigned long>(hr));
    return text;
  }
  HRESULT hr_;
};

inline HRESULT OleCheck(HRESULT hr) {
  if (FAILED(hr)) throw OleError(hr);
  return hr;
}

// Runs `body` (returning HRESULT) and turns any exception into a code: OleError keeps its own,
// out-of-memory gives E_OUTOFMEMORY, anything else `onError`. Use it in every method that the
// runtime or the OS calls:  return ComBoundary([&] { ...; return S_OK; });
template <class Body>
HRESULT ComBoundary(Body&& body, HRESULT onError = E_FAIL) noexcept {
  try {
    return body();
  } catch (const OleError& e) {
    return e.hr();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return onError;
  }
}

// The same for boundaries that return something other than an HRESULT (replaced imports,
// window procedures, thread entries): any exception gives `onError`.
template <class Result, class Body>
Result Boundary(Result onError, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return onError;
  }
}

// Reference count of a COM object that frees itself when the count reaches zero. The object
// starts with one reference, owned by its creator.
class TComRefCount {
 public:
  TComRefCount() = default;
  TComRefCount(const TComRefCount&) = delete;
  TComRefCount& operator=(const TComRefCount&) = delete;

 protected:
  virtual ~TComRefCount() = default;
  ULONG AddRefCount() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG ReleaseCount() {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 private:
  LONG refs_ = 1;
};

}  // namespace pageturn
