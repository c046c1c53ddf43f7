#include "tools/pages_command.h"

#include <filesystem>

#include "core/error.h"
#include "tools/command_options.h"
#include "tools/old_book.h"

namespace pageturn {

namespace {

const char kPagesHelp[] =
    "usage: pageturn-pack pages BOOK.exe -o DIR [--thumbs-for-missing] [--skip-damaged]\n"
    "Writes the picture of each page of an older book (its movies files/large/N.swf) as "
    "DIR/N.jpg,\n"
    "N.png or N.gif: the largest bitmap the page's first frame shows, else the largest it\n"
    "defines. JPEG data is written byte for byte, PNG and GIF as stored; bitmaps with an alpha\n"
    "channel of their own become PNG. DIR must be absent or empty; it is written whole or not at\n"
    "all.\n"
    "  --thumbs-for-missing  a page showing no bitmap takes its thumbnail files/thumb/N.jpg\n"
    "  --skip-damaged        damaged page movies are reported and left out\n"
    "Exit codes: 0 written, 1 bad book, 2 bad usage.\n";

struct TPagesOptions {
  std::string book, output;
  TTakeOptions take;
};

TPagesOptions ParseOptions(const std::vector<std::string>& args) {
  TPagesOptions o;
  TCommandOptions words(args);
  while (words.Next()) {
    const std::string& a = words.Word();
    if (a == "-o") {
      o.output = words.Value();
    } else if (a == "--thumbs-for-missing") {
      o.take.thumbsForMissing = true;
    } else if (a == "--skip-damaged") {
      o.take.skipDamaged = true;
    } else if (words.IsOption()) {
      words.RejectUnknown();
    } else if (o.book.empty()) {
      o.book = a;
    } else {
      throw TUsageError("one BOOK.exe only (\"" + a + "\" is a second)");
    }
  }
  if (o.book.empty() || o.output.empty()) throw TUsageError("needs BOOK.exe and -o DIR");
  return o;
}

int Pages(const TPagesOptions& o, std::ostream& out) {
  namespace fs = std::filesystem;
  if (!fs::is_regular_file(o.book)) throw Error("Cannot open file \"" + o.book + "\"");
  std::error_code error;
  if (fs::exists(o.output, error) &&
      (!fs::is_directory(o.output, error) || !fs::is_empty(o.output, error)))
    throw Error("\"" + o.output + "\" exists and is not an empty folder");
  const TOldBook book(o.book);
  TScratchFolder folder(o.output, "partial");
  std::size_t written = 0;
  TakePagePictures(book, o.take, out, [&](const TTakenPicture& picture) {
    folder.Write(picture.fileName, picture.bytes);
    ++written;
  });
  folder.MoveTo(o.output);
  out << "wrote " << written << " pictures to " << o.output << "\n";
  return 0;
}

}  // namespace

int RunPagesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (HelpAsked(args)) {
    out << kPagesHelp;
    return 0;
  }
  try {
    return Pages(ParseOptions(args), out);
  } catch (const TUsageError& e) {
    err << "pageturn-pack pages: " << e.what() << "\n" << kPagesHelp;
    return 2;
  } catch (const std::exception& e) {
    err << "pageturn-pack pages: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace pageturn
