#include "core/stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/error.h"

namespace pageturn {

std::int64_t TStream::Size() {
  const std::int64_t here = Seek(0, TSeekOrigin::Current);
  const std::int64_t end = Seek(0, TSeekOrigin::End);
  Seek(here, TSeekOrigin::Beginning);
  return end;
}

void TStream::SetSize(std::int64_t) { throw Error("Stream does not support SetSize"); }

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    const std::size_t got = Read(p, count);
    if (got == 0) throw StreamReadError();
    p += got;
    count -= got;
  }
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  while (count > 0) {
    const std::size_t put = Write(p, count);
    if (put == 0) throw StreamWriteError();
    p += put;
    count -= put;
  }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 20)));
  std::int64_t left = count;
  while (left > 0) {
    const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(left, buffer.size()));
    source.ReadBuffer(buffer.data(), chunk);
    WriteBuffer(buffer.data(), chunk);
    left -= static_cast<std::int64_t>(chunk);
  }
  return count;
}

namespace {

// Shared by the in-memory streams: a seek clamps below at 0 and may go past the end.
std::size_t SeekIn(std::size_t position, std::size_t size, std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::Beginning: base = 0; break;
    case TSeekOrigin::Current: base = static_cast<std::int64_t>(position); break;
    case TSeekOrigin::End: base = static_cast<std::int64_t>(size); break;
  }
  const std::int64_t target = base + offset;
  return target < 0 ? 0 : static_cast<std::size_t>(target);
}

template <class Buffer>
std::size_t ReadFrom(const Buffer& data, std::size_t& position, void* buffer, std::size_t count) {
  if (position >= data.size()) return 0;
  const std::size_t n = std::min(count, data.size() - position);
  std::memcpy(buffer, data.data() + position, n);
  position += n;
  return n;
}

template <class Buffer>
std::size_t WriteTo(Buffer& data, std::size_t& position, const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  if (position + count > data.size()) data.resize(position + count);
  std::memcpy(&data[position], buffer, count);
  position += count;
  return count;
}

}  // namespace

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  return ReadFrom(data_, position_, buffer, count);
}
std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
  return WriteTo(data_, position_, buffer, count);
}
std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  position_ = SeekIn(position_, data_.size(), offset, origin);
  return static_cast<std::int64_t>(position_);
}
void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  position_ = std::min(position_, data_.size());
}
void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

std::size_t TStringStream::Read(void* buffer, std::size_t count) {
  return ReadFrom(data_, position_, buffer, count);
}
std::size_t TStringStream::Write(const void* buffer, std::size_t count) {
  return WriteTo(data_, position_, buffer, count);
}
std::int64_t TStringStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  position_ = SeekIn(position_, data_.size(), offset, origin);
  return static_cast<std::int64_t>(position_);
}
void TStringStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  position_ = std::min(position_, data_.size());
}

TFileStream::TFileStream(const std::string& fileName, Mode mode)
    : TFileStream(fileName, mode, NoThrow{}) {
  if (!IsOpen()) {
    throw FileOpenError((mode == Mode::Create ? "Cannot create file \"" : "Cannot open file \"") +
                        fileName + "\"");
  }
}

std::unique_ptr<TFileStream> TFileStream::TryOpen(const std::string& fileName, Mode mode) {
  std::unique_ptr<TFileStream> stream(new TFileStream(fileName, mode, NoThrow{}));
  if (!stream->IsOpen()) stream.reset();
  return stream;
}

}  // namespace pageturn
