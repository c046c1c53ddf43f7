#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "core/error.h"
#include "core/stream.h"

namespace pageturn {

TFileStream::TFileStream(const std::string& fileName, Mode mode, NoThrow) : fileName_(fileName) {
  fd_ = mode == Mode::Create ? ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                             : ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ >= 0) {
    struct stat st{};
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

bool TFileStream::IsOpen() const { return fd_ >= 0; }

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  const ssize_t got = ::read(fd_, buffer, count > SSIZE_MAX ? SSIZE_MAX : count);
  return got < 0 ? 0 : static_cast<std::size_t>(got);
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  const ssize_t put = ::write(fd_, buffer, count > SSIZE_MAX ? SSIZE_MAX : count);
  return put < 0 ? 0 : static_cast<std::size_t>(put);
}

std::int64_t TFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw Error("Cannot get the size of \"" + fileName_ + "\"");
  return static_cast<std::int64_t>(st.st_size);
}

std::size_t TFileStream::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
  const ssize_t got =
      ::pread(fd_, buffer, count > SSIZE_MAX ? SSIZE_MAX : count, static_cast<off_t>(offset));
  return got < 0 ? 0 : static_cast<std::size_t>(got);
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                     : origin == TSeekOrigin::Current ? SEEK_CUR
                                                      : SEEK_END;
  const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (at < 0) throw Error("Seek failed on \"" + fileName_ + "\"");
  return static_cast<std::int64_t>(at);
}

}  // namespace pageturn
