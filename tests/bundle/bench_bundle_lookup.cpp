// Serving a whole book by name, the way the shell does it (BundleEntryIndex, then
// ExtractBundleEntry), against a plain read of the same bytes from the same file.
// Book: 424 entries, 34.5 MB, digest flag set. Prints figures; judges nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bundle/bundle_cache.h"
#include "bundle/bundle_lookup.h"
#include "bundle/bundle_writer.h"
#include "bundle/exe_ext_reader.h"
#include "core/stream.h"

namespace {

using namespace pageturn;
using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct TEntryPlace {
  std::string name;
  std::int64_t offset;
  std::int32_t size;
};

}  // namespace

int main() {
  const std::string book =
      (std::filesystem::temp_directory_path() / "pageturn-bench-book.exe").string();
  // The shape of the book the player carries: two movies, a configuration, a data file, and
  // per page a movie and a thumbnail; 423 files and the index, 34.5 MB in all.
  TBundleWriter writer;
  std::vector<std::string> names = {"book.swf", "bookContent.swf", "ExeConfig.xml",
                                    "files/book.bin"};
  for (int page = 1; page <= 209; ++page) {
    names.push_back("files/large/" + std::to_string(page) + ".swf");
    names.push_back("files/thumb/" + std::to_string(page) + ".jpg");
  }
  names.push_back("files/extfiles/sound.mp3");  // last: it fills the book up to its size
  const std::int64_t target = 34'500'000;
  std::int64_t total = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool thumb = names[i].find("thumb") != std::string::npos;
    std::size_t size = thumb ? 12'000 + (i * 37) % 6000 : 125'000 + (i * 7919) % 40'000;
    if (i + 1 == names.size())
      size = static_cast<std::size_t>(std::max<std::int64_t>(target - total, 1));
    std::string bytes(size, '\0');
    for (std::size_t k = 0; k < size; k += 61) bytes[k] = static_cast<char>(i + k);
    writer.AddEntry(names[i], std::move(bytes));
    total += static_cast<std::int64_t>(size);
  }
  writer.SetDigest(true);
  {
    TStringStream player(std::string(4096, 'P'));
    TFileStream out(book, TFileStream::Mode::Create);
    out.WriteBuffer(player.DataString().data(), player.DataString().size());
    writer.WriteBundle(out);
  }

  const TExeExtReader reader(book);
  std::vector<TEntryPlace> places;
  std::int64_t offset = reader.DataStart() + reader.EntrySizes()[0];
  const std::vector<std::string> sorted = writer.Names();
  for (std::size_t k = 0; k < sorted.size(); ++k) {
    const std::int32_t size = reader.EntrySizes()[k + 1];
    places.push_back({sorted[k], offset, size});
    offset += size;
  }
  std::printf("book: %d entries, %.1f MB, digest flag %d\n", static_cast<int>(reader.EntryCount()),
              static_cast<double>(reader.SectionSize()) / 1e6, reader.DigestFlag());

  // The first lookup of a version of the file reads the index and verifies the digest.
  Clock::time_point start = Clock::now();
  ClearBundleCache();
  BundleEntryIndex("book.swf", book);
  std::printf("first lookup (trailer, digest, index): %.1f ms\n", MicrosecondsSince(start) / 1000);

  // Uncached, as every call re-reads and re-verifies: a few files show the cost.
  SetBundleCacheEnabled(false);
  start = Clock::now();
  const int uncachedFiles = 3;
  for (int k = 0; k < uncachedFiles; ++k) {
    TMemoryStream stream;
    if (BundleEntryIndex(places[k].name, book) != 0)
      ExtractBundleEntry(places[k].name, stream, book);
  }
  std::printf("served without cache: %.1f ms per file\n",
              MicrosecondsSince(start) / 1000 / uncachedFiles);
  SetBundleCacheEnabled(true);

  const int rounds = 5;
  std::int64_t servedBytes = 0, plainBytes = 0;
  double served = 0, plain = 0;
  for (int round = 0; round <= rounds; ++round) {  // round 0 warms the cache and the disk
    start = Clock::now();
    for (const TEntryPlace& place : places) {
      TMemoryStream stream;
      if (BundleEntryIndex(place.name, book) != 0) ExtractBundleEntry(place.name, stream, book);
      if (round > 0) servedBytes += stream.Size();
    }
    if (round > 0) served += MicrosecondsSince(start);

    start = Clock::now();
    for (const TEntryPlace& place : places) {
      TFileStream file(book, TFileStream::Mode::OpenReadShareAll);
      file.Seek(place.offset, TSeekOrigin::Beginning);
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(place.size));
      file.ReadBuffer(bytes.data(), bytes.size());
      if (round > 0) plainBytes += static_cast<std::int64_t>(bytes.size());
    }
    if (round > 0) plain += MicrosecondsSince(start);
  }
  const double files = static_cast<double>(rounds * places.size());
  if (servedBytes != plainBytes)
    std::printf("warning: served %lld bytes, read %lld\n", static_cast<long long>(servedBytes),
                static_cast<long long>(plainBytes));
  ClearBundleCache();  // lets go of the file
  std::filesystem::remove(book);
  std::printf("per served file: by name %.1f us, plain read %.1f us, ratio %.2f\n", served / files,
              plain / files, served / plain);
  return 0;
}
