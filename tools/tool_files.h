// File-system helpers that every command of pageturn-pack shares.
#pragma once

#include <string>

namespace pageturn {

// Whether `file` lies inside `folder` (or is it), both taken as the file system resolves them:
// a book written there would be read as one of its own inputs the next time. On Windows, whose
// file names match without regard to case, "Pages\book.exe" lies inside "pages".
bool PathLiesInside(const std::string& folder, const std::string& file);

}  // namespace pageturn
