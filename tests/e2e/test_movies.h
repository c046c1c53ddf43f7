// Small movies for the books of the end-to-end tests and benchmarks, written with the project's
// SWF writer: one frame whose actions run once, then stop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "swf/movie.h"
#include "swf/swf_writer.h"

namespace pageturn::e2e {

inline swf::ActionRecord Op(std::uint8_t code) {
  swf::ActionRecord a;
  a.code = code;
  return a;
}

inline swf::ActionRecord GetUrl(const std::string& url, const std::string& target) {
  swf::ActionRecord a = Op(swf::kActionGetUrl);
  a.url = url;
  a.target = target;
  return a;
}

// loadMovieNum(url, level)
inline swf::ActionRecord LoadLevel(const std::string& url, int level) {
  return GetUrl(url, "_level" + std::to_string(level));
}

// fscommand("fullscreen", args)
inline swf::ActionRecord FullScreen(const std::string& args) {
  return GetUrl("FSCommand:fullscreen", args);
}

inline swf::ActionRecord PushString(const std::string& s) {
  swf::ActionRecord a = Op(swf::kActionPush);
  swf::PushValue v;
  v.type = swf::PushValue::kString;
  v.string = s;
  a.values.push_back(v);
  return a;
}

inline swf::ActionRecord PushInteger(std::int32_t n) {
  swf::ActionRecord a = Op(swf::kActionPush);
  swf::PushValue v;
  v.type = swf::PushValue::kInteger;
  v.integer = static_cast<std::uint32_t>(n);
  a.values.push_back(v);
  return a;
}

inline void Append(swf::ActionList& to, const swf::ActionList& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// A 550 x 400 px movie of one frame that runs `actions` and stops. `fillerBytes` adds a tag of
// that size that players skip by its length, to give the movie the weight of a page.
inline std::string Movie(swf::ActionList actions, std::uint32_t background = 0x404040,
                         std::size_t fillerBytes = 0) {
  swf::Movie movie;
  movie.frameSize = {0, 550 * 20, 0, 400 * 20};
  movie.fileAttributes = 0;
  movie.backgroundColor = background;
  actions.push_back(Op(swf::kActionStop));
  movie.frames.resize(1);
  movie.frames[0].actions.push_back(actions);
  const std::vector<std::uint8_t> file = swf::WriteMovie(movie);
  std::string bytes(file.begin(), file.end());
  if (fillerBytes == 0) return bytes;
  // Tag 1000, outside the subset, in the long form, just before End (the file's last two bytes).
  std::string tag;
  const auto u16 = [&](std::uint16_t v) { tag += char(v & 0xFF), tag += char(v >> 8); };
  const auto u32 = [&](std::uint32_t v) { u16(std::uint16_t(v)), u16(std::uint16_t(v >> 16)); };
  u16(std::uint16_t(1000 << 6 | 0x3F));
  u32(static_cast<std::uint32_t>(fillerBytes));
  for (std::size_t i = 0; i < fillerBytes; ++i) tag += char(i * 2654435761u >> 24);
  bytes.insert(bytes.size() - 2, tag);
  const auto length = static_cast<std::uint32_t>(bytes.size());
  for (int i = 0; i < 4; ++i) bytes[4 + i] = char(length >> (8 * i));
  return bytes;
}

}  // namespace pageturn::e2e
