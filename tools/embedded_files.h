// Files built into the tool: the web page's own files that `web` writes beside Ruffle.
#pragma once

#include <string_view>
#include <vector>

namespace pageturn {

struct TEmbeddedFile {
  std::string_view name;
  std::string_view bytes;
};

// index.html (a template), pageturn.js and pageturn.css from web/.
std::vector<TEmbeddedFile> WebPageFiles();

}  // namespace pageturn
