#include <windows.h>

#include "core/error.h"
#include "core/stream.h"

namespace pageturn {

TFileStream::TFileStream(const std::string& fileName, Mode mode, NoThrow)
    : fileName_(fileName), handle_(INVALID_HANDLE_VALUE) {
  if (mode == Mode::Create) {
    handle_ = ::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    // Deny none (unless asked to deny writers): the running program, other readers and writers
    // may all hold the file.
    const DWORD share = mode == Mode::OpenReadDenyWrite
                            ? FILE_SHARE_READ
                            : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    handle_ = ::CreateFileA(fileName.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  }
}

TFileStream::~TFileStream() {
  if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
}

bool TFileStream::IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  DWORD got = 0;
  const DWORD ask = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
  if (!::ReadFile(handle_, buffer, ask, &got, nullptr)) return 0;
  return got;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  DWORD put = 0;
  const DWORD ask = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
  if (!::WriteFile(handle_, buffer, ask, &put, nullptr)) return 0;
  return put;
}

std::int64_t TFileStream::Size() {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle_, &size)) throw Error("Cannot get the size of \"" + fileName_ + "\"");
  return size.QuadPart;
}

std::size_t TFileStream::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD got = 0;
  const DWORD ask = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
  if (!::ReadFile(handle_, buffer, ask, &got, &at)) return 0;
  return got;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const DWORD method = origin == TSeekOrigin::Beginning ? FILE_BEGIN
                       : origin == TSeekOrigin::Current ? FILE_CURRENT
                                                        : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER at;
  if (!::SetFilePointerEx(handle_, distance, &at, method)) {
    throw Error("Seek failed on \"" + fileName_ + "\"");
  }
  return at.QuadPart;
}

}  // namespace pageturn
