// Real files for bundle tests: a private temporary folder, and books made by the writer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bundle/bundle_cache.h"
#include "bundle/bundle_writer.h"
#include "core/stream.h"

namespace pageturn::testing {

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bytes of a bundle section holding exactly these entries.
inline std::string SectionBytes(const std::vector<std::string>& entries, std::uint8_t flag) {
  TStringStream out;
  WriteBundleSection(out, entries, flag);
  return out.DataString();
}

// A stand-in for the executable image that carries the bundle.
inline const std::string kImage = [] {
  using namespace std::string_literals;
  return "MZ\x90\0\3\0\0\0 not really a program "s;
}();

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    folder_ = std::filesystem::temp_directory_path() / ("pageturn-bundle-test-" + name);
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    ClearBundleCache();
  }
  void TearDown() override {
    ClearBundleCache();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

  // kImage followed by a bundle of these entries; returns the file name.
  std::string MakeBook(const std::string& name, const std::vector<std::string>& entries,
                       std::uint8_t flag = 0) {
    const std::string path = PathOf(name);
    WriteFileBytes(path, kImage + SectionBytes(entries, flag));
    return path;
  }

  std::filesystem::path folder_;
};

}  // namespace pageturn::testing
