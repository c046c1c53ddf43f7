// pageturn-pack: packs a book folder onto a player and lists, extracts, verifies and describes
// existing books. The command runs in-process so tests can drive it like the shell does.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pageturn {

enum TPackExit { kPackOk = 0, kPackBadBook = 1, kPackBadUsage = 2 };

// args are the words after the program name. Progress of long packs goes to `out` when
// `interactive` (stdout is a terminal). Returns the exit code.
int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool interactive);

// Whether an entry name may be written under an output folder: no absolute paths, drive
// letters or ".." components, and no part that Windows would take for a device (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, with any extension, any case) or that ends in a dot or a blank.
bool IsSafeEntryPath(const std::string& name);

// Checks a book as `verify` does: its trailer, every entry inside the file, the digest, and the
// index naming only entries that exist. Raises Error with the reason; returns the summary
// ("N entries, B bytes, digest verified").
std::string VerifyBook(const std::string& path);

}  // namespace pageturn
