// RAII for Win32 handles and locks.
#pragma once

#ifndef _WIN32
#error "core/win32.h is for the Windows build only"
#endif

#include <windows.h>

#include <utility>

namespace pageturn {

// Owns a kernel handle; empty is nullptr or INVALID_HANDLE_VALUE.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(ScopedHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.h_, nullptr));
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool IsValid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }
  HANDLE Release() { return std::exchange(h_, nullptr); }
  void Reset(HANDLE h = nullptr) {
    if (IsValid()) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

class TCriticalSection {
 public:
  TCriticalSection() { ::InitializeCriticalSection(&cs_); }
  ~TCriticalSection() { ::DeleteCriticalSection(&cs_); }
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;
  void Enter() { ::EnterCriticalSection(&cs_); }
  void Leave() { ::LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class TLock {
 public:
  explicit TLock(TCriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~TLock() { cs_.Leave(); }
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;

 private:
  TCriticalSection& cs_;
};

}  // namespace pageturn
