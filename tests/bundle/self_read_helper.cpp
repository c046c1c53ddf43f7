// A program that reads the bundle appended to its own file, through the empty file name, and
// prints what it found: "entries N", then per name given "name=number:bytes" ("<none>" when
// LoadBundleEntry gives no stream). Exits 0 when it found a bundle, 3 when not, 4 on an error.
#include <cstdio>
#include <string>

#include "bundle/bundle_lookup.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"

int main(int argc, char** argv) {
  using namespace pageturn;
  try {
    const TExeExtReader reader(argc > 1 && std::string(argv[1]) == "--blank" ? "   " : "");
    std::printf("entries %d\n", static_cast<int>(reader.EntryCount()));
    for (int i = 1; i < argc; ++i) {
      const std::string name = argv[i];
      if (name == "--blank") continue;
      const auto stream = LoadBundleEntry(name, "");
      std::printf("%s=%d:%s\n", name.c_str(), static_cast<int>(BundleEntryIndex(name, "")),
                  stream ? std::string(reinterpret_cast<const char*>(stream->Memory()),
                                       static_cast<std::size_t>(stream->Size()))
                               .c_str()
                         : "<none>");
    }
    return reader.EntryCount() > 0 ? 0 : 3;
  } catch (const std::exception& e) {
    std::printf("error %s\n", e.what());
    return 4;
  }
}
