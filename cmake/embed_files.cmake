# cmake -DOUTPUT=file.cpp -DSYMBOL=Name -DFILES="a|b" -P embed_files.cmake
# Writes a C++ source defining `std::vector<pageturn::TEmbeddedFile> pageturn::SYMBOL()`: each
# file's name and bytes, in the order given.
string(REPLACE "|" ";" FILES "${FILES}")
set(arrays "")
set(table "")
set(index 0)
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}0};\n")
  string(APPEND table "      {\"${name}\", std::string_view(reinterpret_cast<const char*>(kFile${index}), ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Generated from ${FILES} by cmake/embed_files.cmake.
#include <string_view>
#include <vector>

#include \"tools/embedded_files.h\"

namespace pageturn {
namespace {
${arrays}}  // namespace

std::vector<TEmbeddedFile> ${SYMBOL}() {
  return {
${table}  };
}

}  // namespace pageturn
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
