#include "bundle/bundle_writer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <limits>
#include <memory>

#include "bundle/bundle_names.h"
#include "bundle/bundle_platform.h"
#include "bundle/md5.h"
#include "core/error.h"
#include "core/text.h"

namespace pageturn {

namespace {

constexpr std::uint32_t kSectionCheckMask = 0x12345678;
constexpr std::size_t kCopyChunk = 1 << 20;

void PutLittleEndian32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Streams entries out one after the other, counting sizes and hashing as it goes, then closes
// the section with digest, size table and trailer.
class TSectionWriter {
 public:
  TSectionWriter(TStream& out, std::uint8_t digestFlag, const TPackProgress& progress,
                 std::int64_t done, std::int64_t total)
      : out_(out), digestFlag_(digestFlag), progress_(progress), done_(done), total_(total) {}

  void BeginEntry() { sizes_.push_back(0); }
  void Put(const void* data, std::size_t size) {
    // Offsets and sizes of the format are 32-bit: the whole book stays below 2 GiB.
    if (static_cast<std::int64_t>(size) > kMaxSection - dataSize_) {
      throw Error("The book is too large for a bundle (2 GiB at most)");
    }
    out_.WriteBuffer(data, size);
    if (digestFlag_ != 0) md5_.Update(data, size);
    sizes_.back() += static_cast<std::uint32_t>(size);
    dataSize_ += static_cast<std::int64_t>(size);
    done_ += static_cast<std::int64_t>(size);
    if (progress_) progress_(done_, total_);
  }
  void PutFile(const std::string& path) {
    TFileStream file(path, TFileStream::Mode::OpenReadShareAll);
    std::vector<std::uint8_t> chunk(kCopyChunk);
    for (;;) {
      const std::size_t got = file.Read(chunk.data(), chunk.size());
      if (got == 0) break;
      Put(chunk.data(), got);
    }
  }

  std::int64_t Finish() {
    std::vector<std::uint8_t> tail;
    if (digestFlag_ != 0) {
      // By the format an empty data block carries 16 zero bytes, not the MD5 of nothing.
      const TMd5Digest digest = dataSize_ > 0 ? md5_.Final() : TMd5Digest{};
      tail.insert(tail.end(), digest.begin(), digest.end());
    }
    std::uint8_t word[4];
    for (std::uint32_t size : sizes_) {
      PutLittleEndian32(word, size);
      tail.insert(tail.end(), word, word + 4);
    }
    const std::int64_t section = dataSize_ + static_cast<std::int64_t>(tail.size()) + 13;
    if (section > kMaxSection) throw Error("The book is too large for a bundle (2 GiB at most)");
    PutLittleEndian32(word, static_cast<std::uint32_t>(sizes_.size()));
    tail.insert(tail.end(), word, word + 4);
    tail.push_back(digestFlag_);
    PutLittleEndian32(word, static_cast<std::uint32_t>(section));
    tail.insert(tail.end(), word, word + 4);
    PutLittleEndian32(word, static_cast<std::uint32_t>(section) ^ kSectionCheckMask);
    tail.insert(tail.end(), word, word + 4);
    out_.WriteBuffer(tail.data(), tail.size());
    return section;
  }

 private:
  static constexpr std::int64_t kMaxSection = std::numeric_limits<std::int32_t>::max();
  TStream& out_;
  std::uint8_t digestFlag_;
  const TPackProgress& progress_;
  std::int64_t done_;
  std::int64_t total_;
  TMd5 md5_;
  std::vector<std::uint32_t> sizes_;
  std::int64_t dataSize_ = 0;
};

std::string CheckedName(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty() || name.find_first_of(std::string("=\r\n\0", 4)) != std::string::npos) {
    throw Error("Invalid entry name \"" + name + "\"");
  }
  return name;
}

}  // namespace

std::int64_t WriteBundleSection(TStream& out, const std::vector<std::string>& entries,
                                std::uint8_t digestFlag) {
  const TPackProgress none;
  TSectionWriter writer(out, digestFlag, none, 0, 0);
  for (const std::string& entry : entries) {
    writer.BeginEntry();
    writer.Put(entry.data(), entry.size());
  }
  return writer.Finish();
}

void TBundleWriter::AddEntry(const std::string& name, std::string bytes) {
  TEntry entry{CheckedName(name), std::move(bytes), {}};
  std::string lower = LowerAscii(entry.name), key = BundleNameKey(entry.name);
  const std::size_t* clash = nullptr;
  if (auto same = byLower_.find(lower); same != byLower_.end()) {
    clash = &same->second;
  } else if (auto equal = byKey_.find(key); equal != byKey_.end()) {
    clash = &equal->second;
  }
  if (clash) {
    throw Error("Two entries named \"" + entries_[*clash].name + "\" and \"" + entry.name + "\"");
  }
  entries_.push_back(std::move(entry));
  byLower_.emplace(std::move(lower), entries_.size() - 1);
  byKey_.emplace(std::move(key), entries_.size() - 1);
}

void TBundleWriter::AddFile(const std::string& name, const std::string& path) {
  AddEntry(name, {});
  entries_.back().path = path;
}

void TBundleWriter::AddFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  const fs::path root(folder);
  if (!fs::is_directory(root)) throw Error("Not a folder: \"" + folder + "\"");
  std::vector<fs::path> files;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::string name = bundle_platform::PathText(file.lexically_relative(root));
    AddFile(name, bundle_platform::PathText(file));
  }
}

std::vector<const TBundleWriter::TEntry*> TBundleWriter::Sorted() const {
  std::vector<const TEntry*> sorted;
  for (const TEntry& entry : entries_) sorted.push_back(&entry);
  std::sort(sorted.begin(), sorted.end(),
            [](const TEntry* a, const TEntry* b) { return BundleNameLess(a->name, b->name); });
  return sorted;
}

std::vector<std::string> TBundleWriter::Names() const {
  std::vector<std::string> names;
  for (const TEntry* entry : Sorted()) names.push_back(entry->name);
  return names;
}

std::string TBundleWriter::IndexText() const {
  std::string text;
  int number = 1;
  for (const TEntry* entry : Sorted())
    text += entry->name + "=" + std::to_string(number++) + "\r\n";
  return text;
}

std::int64_t TBundleWriter::TotalSize() const {
  std::int64_t total = 0;
  for (const TEntry& entry : entries_) {
    if (entry.path.empty()) {
      total += static_cast<std::int64_t>(entry.bytes.size());
    } else {
      std::error_code error;
      const auto size = std::filesystem::file_size(entry.path, error);
      if (!error) total += static_cast<std::int64_t>(size);
    }
  }
  return total;
}

std::int64_t TBundleWriter::WriteBundle(TStream& out, const TPackProgress& progress) const {
  const std::string index = IndexText();
  TSectionWriter writer(out, digest_ ? 1 : 0, progress, 0,
                        TotalSize() + static_cast<std::int64_t>(index.size()));
  writer.BeginEntry();
  writer.Put(index.data(), index.size());
  for (const TEntry* entry : Sorted()) {
    writer.BeginEntry();
    if (entry->path.empty()) {
      writer.Put(entry->bytes.data(), entry->bytes.size());
    } else {
      writer.PutFile(entry->path);
    }
  }
  return writer.Finish();
}

namespace {

std::string PartialBookName(const std::string& book) {
  // Two runs writing one book (two makes, or two threads) each have a file of their own; the
  // one renamed last wins, whole.
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return book + "." + std::to_string(bundle_platform::ProcessNumber()) + "-" +
         std::to_string(++counter) + "-" + std::to_string(static_cast<unsigned>(now) & 0xFFFFFF) +
         ".partial";
}

}  // namespace

void TBundleWriter::WriteBook(const std::string& player, const std::string& book,
                              const TPackProgress& progress) const {
  const std::string temporary = PartialBookName(book);
  try {
    {
      TFileStream in(player, TFileStream::Mode::OpenReadShareAll);
      TFileStream out(temporary, TFileStream::Mode::Create);
      const std::int64_t playerSize = in.Size();
      out.CopyFrom(in, playerSize);
      WriteBundle(out, progress);
      // On the disk before the rename: a crash then leaves the old book or the new one, never
      // a renamed file whose data was still in the cache.
      bundle_platform::FlushToDisk(out);
    }
    bundle_platform::CopyPermissions(player, temporary);
    bundle_platform::MoveOnto(temporary, book);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw;
  }
}

}  // namespace pageturn
