// Older movies split their JPEGs: the quantisation and Huffman tables (DQT, DHT) once per movie
// in JPEGTables, each DefineBits holding the rest. The tests make such pairs from whole JPEGs by
// walking the segments up to the scan, without the code under test.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

inline std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> SplitJpegTables(
    const std::vector<std::uint8_t>& jpeg) {
  std::vector<std::uint8_t> tables = {0xFF, 0xD8}, frame = {0xFF, 0xD8};
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos + 1] != 0xDA) {
    const size_t length = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
    auto& into = jpeg[pos + 1] == 0xDB || jpeg[pos + 1] == 0xC4 ? tables : frame;
    into.insert(into.end(), jpeg.begin() + pos, jpeg.begin() + pos + 2 + length);
    pos += 2 + length;
  }
  tables.insert(tables.end(), {0xFF, 0xD9});
  frame.insert(frame.end(), jpeg.begin() + pos, jpeg.end());
  return {tables, frame};
}
