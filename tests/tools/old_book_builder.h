// Older books as other tools laid them out: an engine's book.swf, one movie per page under
// files/large/N.swf, thumbnails under files/thumb/N.jpg, files/book.bin and ExeConfig.xml, in a
// bundle appended to a program image.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "../bundle/bundle_fixture.h"
#include "old_movie_builder.h"

namespace oldmovie {

inline std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// An engine's page-flipping movie, nothing like our navigator: AS3 code and a symbol class.
inline Bytes ForeignBookMovie() {
  return Movie(Cat({Tag(69, {0x08, 0, 0, 0}),  // FileAttributes, AS3
                    Tag(82, Cat({U32(1), {'b', 'o', 'o', 'k', 0}, Bytes(200, 0x33)})),  // DoABC
                    Tag(76, Cat({U16(1), U16(0), {'B', 'o', 'o', 'k', 0}})),  // SymbolClass
                    ShowFrame()}),
               1024, 768, true, 10);
}

inline std::string OldExeConfig(const std::string& caption, int mode, int width, int height) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ExeConfig>\r\n  <ExeCaption>" + caption +
         "</ExeCaption>\r\n  <WindowOpenMode>" + std::to_string(mode) +
         "</WindowOpenMode>\r\n  <WindowOpenWidth>" + std::to_string(width) +
         "</WindowOpenWidth>\r\n  <WindowOpenHeight>" + std::to_string(height) +
         "</WindowOpenHeight>\r\n</ExeConfig>\r\n";
}

// The bundle section's entries: the index first, then each file in the order given.
inline std::vector<std::string> OldBookEntries(
    const std::vector<std::pair<std::string, std::string>>& files) {
  std::string index;
  for (size_t i = 0; i < files.size(); ++i)
    index += files[i].first + "=" + std::to_string(i + 1) + "\r\n";
  std::vector<std::string> entries = {index};
  for (const auto& [name, bytes] : files) entries.push_back(bytes);
  return entries;
}

}  // namespace oldmovie
