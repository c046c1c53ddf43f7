// ExeConfig.xml comes from any book: reading it either fails with an Error or gives values,
// never reads outside the bytes, and a document it reads keeps reading the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/error.h"
#include "tools/book_config.h"
#include "tools/xml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    pageturn::ParseXmlDocument(bytes);
  } catch (const pageturn::Error&) {
  }
  try {
    const pageturn::TBookConfig first = pageturn::ReadBookConfig(bytes);
    const pageturn::TBookConfig again = pageturn::ReadBookConfig(bytes);
    if (first.caption != again.caption || first.mode != again.mode) std::abort();
  } catch (const pageturn::Error&) {
  }
  return 0;
}
