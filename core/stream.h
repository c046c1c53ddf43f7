// Seekable byte streams: the one currency in which bundle entries, movies and served files move.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pageturn {

enum class TSeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Read and Write move at most `count` bytes and return how many moved (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Returns the new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size);
  std::int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::Beginning); }

  // Whole-buffer helpers: a short read or write raises StreamReadError / StreamWriteError.
  void ReadBuffer(void* buffer, std::size_t count);
  void WriteBuffer(const void* buffer, std::size_t count);
  // Copies `count` bytes from the source's current position (all of it, from 0, when count is 0).
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// Growable in-memory stream.
class TMemoryStream : public TStream {
 public:
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  const std::uint8_t* Memory() const { return data_.data(); }
  std::uint8_t* Memory() { return data_.data(); }
  const std::vector<std::uint8_t>& Bytes() const { return data_; }
  void Clear();
  void Reserve(std::size_t capacity) { data_.reserve(capacity); }

 private:
  std::vector<std::uint8_t> data_;
  std::size_t position_ = 0;
};

// In-memory stream over an 8-bit string; DataString() is the bytes written so far.
class TStringStream : public TStream {
 public:
  TStringStream() = default;
  explicit TStringStream(std::string data) : data_(std::move(data)) {}
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;
  const std::string& DataString() const { return data_; }

 private:
  std::string data_;
  std::size_t position_ = 0;
};

// A file on disk. Read mode shares the file with every other reader and writer (deny none);
// OpenReadDenyWrite shares it with readers only, so that on Windows nobody can write, replace,
// delete or lock it while it is open (elsewhere it is the plain read mode).
class TFileStream : public TStream {
 public:
  enum class Mode { OpenReadShareAll, OpenReadDenyWrite, Create };
  // Raises FileOpenError when the file cannot be opened.
  TFileStream(const std::string& fileName, Mode mode);
  ~TFileStream() override;
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  // Neither of these moves the file position, so threads may share one open file through them.
  std::int64_t Size() override;
  std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count);
  const std::string& FileName() const { return fileName_; }
#ifdef _WIN32
  void* NativeHandle() const { return handle_; }
#else
  int NativeHandle() const { return fd_; }
#endif

  // Non-raising open, for callers that retry (empty on failure).
  static std::unique_ptr<TFileStream> TryOpen(const std::string& fileName, Mode mode);

 private:
  struct NoThrow {};
  TFileStream(const std::string& fileName, Mode mode, NoThrow);
  bool IsOpen() const;

  std::string fileName_;
#ifdef _WIN32
  void* handle_;  // HANDLE; INVALID_HANDLE_VALUE when closed
#else
  int fd_ = -1;
#endif
};

}  // namespace pageturn
