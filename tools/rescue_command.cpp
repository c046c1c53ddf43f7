#include "tools/rescue_command.h"

#include <filesystem>
#include <sstream>

#include "core/error.h"
#include "core/text.h"
#include "tools/book_config.h"
#include "tools/command_options.h"
#include "tools/make_command.h"
#include "tools/old_book.h"

namespace pageturn {

namespace {

const char kRescueHelp[] =
    "usage: pageturn-pack rescue OLD.exe -o NEW.exe [--caption TEXT] [--mode N] [--width W]\n"
    "                            [--height H] [--thumbs-for-missing] [--skip-damaged] [--digest]\n"
    "                            [--player EXE] [--runtime OCX]\n"
    "Makes a book of ours from an older book: the picture of each of its pages (as `pages` takes\n"
    "them) made into a book with our navigator and runtime, as `make` makes it. Caption, mode and\n"
    "size default to the old book's ExeConfig.xml. The old book is never changed; NEW.exe is\n"
    "written whole or not at all.\n"
    "  --thumbs-for-missing, --skip-damaged   as for `pages`\n"
    "  --caption, --mode, --width, --height, --digest, --player, --runtime   as for `make`\n"
    "Exit codes: 0 made, 1 bad book, 2 bad usage.\n";

struct TRescueOptions {
  std::string book, output, player, runtime;
  std::optional<std::string> caption;
  std::optional<int> mode, width, height;
  bool digest = false;
  TTakeOptions take;
};

TRescueOptions ParseOptions(const std::vector<std::string>& args) {
  TRescueOptions o;
  TCommandOptions words(args);
  while (words.Next()) {
    const std::string& a = words.Word();
    if (a == "-o") {
      o.output = words.Value();
    } else if (a == "--caption") {
      o.caption = words.Value();
    } else if (a == "--mode") {
      o.mode = words.IntegerValue();
    } else if (a == "--width") {
      o.width = words.IntegerValue();
    } else if (a == "--height") {
      o.height = words.IntegerValue();
    } else if (a == "--digest") {
      o.digest = true;
    } else if (a == "--player") {
      o.player = words.Value();
    } else if (a == "--runtime") {
      o.runtime = words.Value();
    } else if (a == "--thumbs-for-missing") {
      o.take.thumbsForMissing = true;
    } else if (a == "--skip-damaged") {
      o.take.skipDamaged = true;
    } else if (words.IsOption()) {
      words.RejectUnknown();
    } else if (o.book.empty()) {
      o.book = a;
    } else {
      throw TUsageError("one OLD.exe only (\"" + a + "\" is a second)");
    }
  }
  if (o.book.empty() || o.output.empty()) throw TUsageError("needs OLD.exe and -o NEW.exe");
  return o;
}

// The old book's settings where it has them; what it lacks is make's default.
TBookConfig OldSettings(const TOldBook& book, const std::string& path, std::ostream& out) {
  TBookConfig config;
  config.caption = WideToUtf8(SystemToWide(std::filesystem::path(path).stem().string()));
  try {
    const auto bytes = book.Entry(kBookConfigName);
    if (!bytes) {
      out << "no " << kBookConfigName << " in the old book: the defaults are taken\n";
      return config;
    }
    config = ReadBookConfig(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  } catch (const std::exception& e) {
    out << kBookConfigName << " of the old book: " << e.what() << "; the defaults are taken\n";
    return config;
  }
  // A caption is one line: what would break it is a blank.
  for (char& c : config.caption)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return config;
}

int Rescue(const TRescueOptions& o, std::ostream& out, bool interactive) {
  namespace fs = std::filesystem;
  if (!fs::is_regular_file(o.book)) throw Error("Cannot open file \"" + o.book + "\"");
  std::error_code ignored;
  // make replaces its output once whole: it would replace the old book too.
  if (fs::equivalent(o.book, o.output, ignored)) throw Error("NEW.exe must not be the old book");
  const TOldBook book(o.book);
  const TBookConfig old = OldSettings(book, o.book, out);
  const std::string caption = o.caption ? *o.caption : WideToSystem(Utf8ToWide(old.caption));
  const int mode = o.mode.value_or(old.mode), width = o.width.value_or(old.width),
            height = o.height.value_or(old.height);
  out << "caption \"" << caption << "\", mode " << mode << ", " << width << "\xC3\x97" << height
      << (o.caption && o.mode && o.width && o.height ? "" : " (from the old book's ExeConfig.xml)")
      << "\n";

  TScratchFolder pages(o.output, "pages");
  TakePagePictures(book, o.take, out, [&](const TTakenPicture& picture) {
    pages.Write(picture.fileName, picture.bytes);
  });
  std::vector<std::string> args = {pages.path(),
                                   "-o",
                                   o.output,
                                   "--caption",
                                   caption,
                                   "--mode",
                                   std::to_string(mode),
                                   "--width",
                                   std::to_string(width),
                                   "--height",
                                   std::to_string(height)};
  if (o.digest) args.push_back("--digest");
  if (!o.player.empty()) args.insert(args.end(), {"--player", o.player});
  if (!o.runtime.empty()) args.insert(args.end(), {"--runtime", o.runtime});
  std::ostringstream makeErrors;
  if (RunMakeCommand(args, out, makeErrors, interactive) != 0) {
    std::string message = makeErrors.str();
    const std::string prefix = "pageturn-pack make: ";
    if (message.compare(0, prefix.size(), prefix) == 0) message.erase(0, prefix.size());
    const auto end = message.find('\n');
    throw Error(message.substr(0, end));
  }
  return 0;
}

}  // namespace

int RunRescueCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool interactive) {
  if (HelpAsked(args)) {
    out << kRescueHelp;
    return 0;
  }
  try {
    return Rescue(ParseOptions(args), out, interactive);
  } catch (const TUsageError& e) {
    err << "pageturn-pack rescue: " << e.what() << "\n" << kRescueHelp;
    return 2;
  } catch (const std::exception& e) {
    err << "pageturn-pack rescue: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace pageturn
