#include "tools/pack_command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "bundle/bundle_names.h"
#include "bundle/bundle_writer.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"
#include "core/stream.h"
#include "tools/command_options.h"
#include "tools/make_command.h"
#include "tools/pages_command.h"
#include "tools/rescue_command.h"
#include "tools/tool_files.h"
#include "tools/web_command.h"

namespace pageturn {

namespace {

const char kUsage[] =
    "usage: pageturn-pack COMMAND ...\n"
    "  make PAGES_DIR -o OUT.exe [--caption TEXT] [--mode N] [--width W] [--height H]\n"
    "       [--digest] [--player EXE] [--runtime OCX]\n"
    "  pack --player PLAYER.exe --from BOOKDIR -o OUT.exe [--digest]\n"
    "  list BOOK.exe\n"
    "  extract BOOK.exe -o DIR [NAME...]\n"
    "  verify BOOK.exe\n"
    "  info BOOK.exe\n"
    "  pages OLD.exe -o DIR [--thumbs-for-missing] [--skip-damaged]\n"
    "  rescue OLD.exe -o NEW.exe [--caption TEXT] [--mode N] [--width W] [--height H] ...\n"
    "  web BOOK.exe -o DIR [--title TEXT] [--ruffle DIR] [--force] [--allow-script]\n"
    "Each command takes --help. Exit codes: 0 ok, 1 bad book, 2 bad usage.\n";

const std::map<std::string, std::string> kCommandHelp = {
    {"pack",
     "usage: pageturn-pack pack --player PLAYER.exe --from BOOKDIR -o OUT.exe [--digest]\n"
     "Appends a bundle of every file under BOOKDIR (named by its path relative to BOOKDIR) to a\n"
     "copy of PLAYER.exe and writes it as OUT.exe. --digest adds an MD5 digest of the entry data,\n"
     "which the player checks before it reads anything.\n"},
    {"list",
     "usage: pageturn-pack list BOOK.exe\n"
     "One line per index line of the book: entry number, size in bytes, name.\n"},
    {"extract",
     "usage: pageturn-pack extract BOOK.exe -o DIR [NAME...]\n"
     "Writes the named entries (all when none are named) under DIR with their relative paths.\n"
     "Names that would leave DIR, and Windows device names (CON, NUL, COM1...) or names ending in\n"
     "a dot or a blank, are refused.\n"},
    {"verify",
     "usage: pageturn-pack verify BOOK.exe\n"
     "Checks the trailer, the entry sizes, the digest and the index. Exit 0 when ok.\n"},
    {"info",
     "usage: pageturn-pack info BOOK.exe\n"
     "Entry count, digest flag, section size and data start of the book's bundle.\n"},
};

// Discards what it is given, counting it: verify reads every entry without keeping it.
class TCountingStream : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void*, std::size_t count) override {
    written += static_cast<std::int64_t>(count);
    return count;
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return written; }
  std::int64_t written = 0;
};

// A book's reader and its index, for the commands that look into a book.
struct TOpenBook {
  explicit TOpenBook(const std::string& path) : reader(Open(path)) {
    if (reader.EntryCount() == 0) throw Error("The bundle holds no entries, not even an index");
    lines = ParseBundleIndex(reader.ReadEntryText(0));
  }
  static const std::string& Open(const std::string& path) {
    if (!std::filesystem::is_regular_file(path)) throw Error("Cannot open file \"" + path + "\"");
    return path;
  }
  bool Fetchable(std::int32_t number) const { return number > 0 && number < reader.EntryCount(); }
  // Raises, with the reader's own message, for a line whose number names no entry.
  void CheckFetchable(const TBundleIndexLine& line) const {
    const std::int32_t number = BundleIndexNumber(line.value);
    if (Fetchable(number)) return;
    std::string reason = "Error index";
    try {
      TCountingStream sink;
      reader.ReadEntry(number, sink);
    } catch (const std::exception& e) {
      reason = e.what();
    }
    throw Error("Index line \"" + line.name + "=" + line.value + "\" names no entry: " + reason);
  }

  // The index lines a lookup by name can reach: the first of each name.
  std::vector<TBundleIndexLine> Reachable() const {
    std::vector<TBundleIndexLine> reachable;
    std::set<std::string> seen;
    for (const TBundleIndexLine& line : lines) {
      if (seen.insert(BundleNameKey(line.name)).second) reachable.push_back(line);
    }
    return reachable;
  }

  TExeExtReader reader;
  std::vector<TBundleIndexLine> lines;
};

std::string OneBookArgument(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    throw TUsageError("expects exactly one BOOK.exe");
  }
  return args[0];
}

std::string Megabytes(std::int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

int Pack(const std::vector<std::string>& args, std::ostream& out, bool interactive) {
  std::string player, from, output;
  bool digest = false;
  TCommandOptions words(args);
  while (words.Next()) {
    const std::string& a = words.Word();
    if (a == "--player") {
      player = words.Value();
    } else if (a == "--from") {
      from = words.Value();
    } else if (a == "-o") {
      output = words.Value();
    } else if (a == "--digest") {
      digest = true;
    } else {
      words.RejectUnknown();
    }
  }
  if (player.empty() || from.empty() || output.empty()) {
    throw TUsageError("needs --player, --from and -o");
  }
  if (!std::filesystem::is_regular_file(player))
    throw Error("Cannot open player \"" + player + "\"");
  // A book written into its own folder would carry its previous version on the next pack.
  if (PathLiesInside(from, output)) throw TUsageError("OUT.exe must not lie inside BOOKDIR");

  TBundleWriter writer;
  writer.AddFolder(from);
  writer.SetDigest(digest);
  int shown = -1;
  TPackProgress progress;
  if (interactive) {
    progress = [&](std::int64_t done, std::int64_t total) {
      const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
      if (percent == shown) return;
      shown = percent;
      out << "\rpacking " << percent << "% (" << Megabytes(done) << " of " << Megabytes(total)
          << ")" << std::flush;
    };
  }
  writer.WriteBook(player, output, progress);
  if (shown >= 0) out << "\n";
  const TExeExtReader written(output);
  out << "wrote " << output << ": " << writer.Names().size() << " files, bundle of "
      << written.SectionSize() << " bytes" << (digest ? " with digest" : "") << "\n";
  return kPackOk;
}

int List(const std::vector<std::string>& args, std::ostream& out) {
  const TOpenBook book(OneBookArgument(args));
  for (const TBundleIndexLine& line : book.lines) {
    const std::int32_t number = BundleIndexNumber(line.value);
    char row[64];
    if (book.Fetchable(number)) {
      std::snprintf(row, sizeof row, "%6d %10d ", static_cast<int>(number),
                    static_cast<int>(book.reader.EntrySizes()[number]));
    } else {
      std::snprintf(row, sizeof row, "%6d %10s ", static_cast<int>(number), "-");
    }
    out << row << line.name << "\n";
  }
  return kPackOk;
}

int Extract(const std::vector<std::string>& args, std::ostream& out) {
  std::string bookPath, folder;
  std::vector<std::string> names;
  TCommandOptions words(args);
  while (words.Next()) {
    if (words.Word() == "-o") {
      folder = words.Value();
    } else if (bookPath.empty()) {
      bookPath = words.Word();
    } else {
      names.push_back(words.Word());
    }
  }
  if (bookPath.empty() || folder.empty()) throw TUsageError("needs BOOK.exe and -o DIR");

  const TOpenBook book(bookPath);
  std::vector<TBundleIndexLine> chosen;
  const std::vector<TBundleIndexLine> reachable = book.Reachable();
  if (names.empty()) {
    chosen = reachable;
  } else {
    for (const std::string& name : names) {
      bool found = false;
      for (const TBundleIndexLine& line : reachable) {
        if (SameBundleName(line.name, name)) {
          // A value that reads as 0 marks the name absent.
          found = BundleIndexNumber(line.value) != 0;
          if (found) chosen.push_back(line);
          break;
        }
      }
      if (!found) throw Error("No entry named \"" + name + "\"");
    }
  }
  // Lines whose value reads as 0 name nothing, as for the player: all of them are left out.
  if (names.empty()) {
    std::erase_if(chosen,
                  [](const TBundleIndexLine& line) { return BundleIndexNumber(line.value) == 0; });
  }
  // Every name is checked before anything is written, so a hostile index writes nothing.
  for (const TBundleIndexLine& line : chosen) {
    if (!IsSafeEntryPath(line.name)) {
      throw Error("Refusing to extract \"" + line.name + "\": the name leaves the output folder");
    }
    book.CheckFetchable(line);
  }
  namespace fs = std::filesystem;
  for (const TBundleIndexLine& line : chosen) {
    const fs::path target = fs::path(folder) / fs::path(line.name).make_preferred();
    fs::create_directories(target.parent_path());
    TFileStream file(target.string(), TFileStream::Mode::Create);
    book.reader.ReadEntry(BundleIndexNumber(line.value), file);
  }
  out << "extracted " << chosen.size() << " files to " << folder << "\n";
  return kPackOk;
}

int Verify(const std::vector<std::string>& args, std::ostream& out) {
  const std::string summary = VerifyBook(OneBookArgument(args));
  out << "ok: " << summary << "\n";
  return kPackOk;
}

int Info(const std::vector<std::string>& args, std::ostream& out) {
  const std::string path = OneBookArgument(args);
  const TExeExtReader reader(TOpenBook::Open(path));
  out << "entries " << reader.EntryCount() << "\n"
      << "digest flag " << static_cast<int>(reader.DigestFlag()) << "\n"
      << "section size " << reader.SectionSize() << "\n"
      << "data start " << reader.DataStart() << "\n";
  return kPackOk;
}

}  // namespace

namespace {

// Windows opens a device for these names whatever the folder and the extension ("nul.txt"),
// and silently drops a final dot or blank, so such a part never names the file it seems to.
bool IsWindowsDeviceOrTrimmedName(const std::string& part) {
  if (!part.empty() && (part.back() == '.' || part.back() == ' ')) return part != ".";
  std::string stem = part.substr(0, part.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();  // "nul .txt" is NUL too
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

bool IsSafeEntryPath(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.find(':') != std::string::npos) return false;  // drive letters and stream names
  std::size_t start = 0;
  for (;;) {
    const std::size_t stop = name.find_first_of("/\\", start);
    const std::string part = name.substr(start, stop == std::string::npos ? stop : stop - start);
    if (part == ".." || IsWindowsDeviceOrTrimmedName(part)) return false;
    if (stop == std::string::npos) return true;
    start = stop + 1;
  }
}

std::string VerifyBook(const std::string& path) {
  const TOpenBook book(path);
  std::set<std::int32_t> named;
  std::size_t absent = 0;
  for (const TBundleIndexLine& line : book.lines) {
    const std::int32_t number = BundleIndexNumber(line.value);
    // A value that reads as 0 (0, empty, no number) marks the name absent, as lookups read it.
    if (number == 0) {
      ++absent;
      continue;
    }
    book.CheckFetchable(line);
    named.insert(number);
  }
  // Reading every entry proves that each one lies inside the file.
  TCountingStream sink;
  for (std::int32_t n = 0; n < book.reader.EntryCount(); ++n) book.reader.ReadEntry(n, sink);
  std::ostringstream out;
  out << book.reader.EntryCount() << " entries, " << sink.written << " bytes, "
      << (book.reader.DigestFlag() != 0 ? "digest verified" : "no digest");
  const std::size_t unnamed = static_cast<std::size_t>(book.reader.EntryCount() - 1) - named.size();
  if (unnamed > 0) out << ", " << unnamed << " entries not in the index";
  if (absent > 0) out << ", " << absent << " index lines naming no entry (value 0)";
  return out.str();
}

int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool interactive) {
  if (args.empty()) {
    err << kUsage;
    return kPackBadUsage;
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    out << kUsage;
    return kPackOk;
  }
  if (command == "make") {
    return RunMakeCommand(std::vector<std::string>(args.begin() + 1, args.end()), out, err,
                          interactive);
  }
  if (command == "pages")
    return RunPagesCommand(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  if (command == "rescue") {
    return RunRescueCommand(std::vector<std::string>(args.begin() + 1, args.end()), out, err,
                            interactive);
  }
  if (command == "web")
    return RunWebCommand(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  const auto help = kCommandHelp.find(command);
  if (help == kCommandHelp.end()) {
    err << "pageturn-pack: unknown command \"" << command << "\"\n" << kUsage;
    return kPackBadUsage;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (HelpAsked(rest)) {
    out << help->second;
    return kPackOk;
  }
  try {
    if (command == "pack") return Pack(rest, out, interactive);
    if (command == "list") return List(rest, out);
    if (command == "extract") return Extract(rest, out);
    if (command == "verify") return Verify(rest, out);
    return Info(rest, out);
  } catch (const TUsageError& e) {
    err << "pageturn-pack " << command << ": " << e.what() << "\n" << help->second;
    return kPackBadUsage;
  } catch (const std::exception& e) {
    err << "pageturn-pack " << command << ": " << e.what() << "\n";
    return kPackBadBook;
  }
}

}  // namespace pageturn
