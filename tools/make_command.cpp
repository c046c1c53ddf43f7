#include "tools/make_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#endif

#include "bundle/bundle_writer.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"
#include "core/text.h"
#include "swf/swf_reader.h"
#include "swf/swf_writer.h"
#include "tools/book_movies.h"
#include "tools/command_options.h"
#include "tools/page_pictures.h"
#include "tools/tool_files.h"

namespace pageturn {

namespace {

namespace fs = std::filesystem;

const char kMakeHelp[] =
    "usage: pageturn-pack make PAGES_DIR -o OUT.exe [--caption TEXT] [--mode N] [--width W]\n"
    "                          [--height H] [--no-page-numbers] [--digest] [--player EXE]\n"
    "                          [--runtime OCX]\n"
    "Makes a book from the JPEG, PNG and GIF pictures in PAGES_DIR, one page each in natural\n"
    "order of their names (page2 before page10): a navigator book.swf, one files/large/N.swf per\n"
    "page holding its picture as it is, and ExeConfig.xml, packed with the runtime as flash.ocx\n"
    "onto the player. Subfolders, hidden files (names starting with a dot) and the files Windows\n"
    "keeps in folders (Thumbs.db, ehthumbs.db, desktop.ini) are left out. The stage takes the\n"
    "size most pages have; every page is fitted inside it and centred.\n"
    "  --caption TEXT  window caption (default: the folder's name)\n"
    "  --mode N        1 sized, 2 maximised (default), 3 full screen, 4 screen saver\n"
    "  --width W, --height H   window size for mode 1 (default 800 x 600)\n"
    "  --no-page-numbers   leave out the page indicator \"N / M\"\n"
    "  --digest        add an MD5 digest that the player checks\n"
    "  --player EXE, --runtime OCX   default: pageturn.exe and flash.ocx beside this tool or\n"
    "                  where the Windows build puts them (build/windows/app, "
    "build/windows/standin)\n"
    "Exit codes: 0 made, 1 bad input, 2 bad usage.\n";

// A page movie holds one picture: the largest file that still makes a movie the reader takes.
constexpr std::uintmax_t kMaxPictureBytes = swf::kMaxMovieSize - 4096;
constexpr int kMaxPages = 65535;  // one frame each, and frame numbers are 16-bit

struct TMakeOptions {
  std::string pages, output, caption, player, runtime;
  bool hasCaption = false, digest = false, pageNumbers = true;
  int mode = 2, width = 800, height = 600;
};

TMakeOptions ParseOptions(const std::vector<std::string>& args) {
  TMakeOptions o;
  TCommandOptions words(args);
  while (words.Next()) {
    const std::string& a = words.Word();
    if (a == "-o") {
      o.output = words.Value();
    } else if (a == "--caption") {
      o.caption = words.Value();
      o.hasCaption = true;
    } else if (a == "--mode") {
      o.mode = words.IntegerValue();
    } else if (a == "--width") {
      o.width = words.IntegerValue();
    } else if (a == "--height") {
      o.height = words.IntegerValue();
    } else if (a == "--no-page-numbers") {
      o.pageNumbers = false;
    } else if (a == "--digest") {
      o.digest = true;
    } else if (a == "--player") {
      o.player = words.Value();
    } else if (a == "--runtime") {
      o.runtime = words.Value();
    } else if (words.IsOption()) {
      words.RejectUnknown();
    } else if (o.pages.empty()) {
      o.pages = a;
    } else {
      throw TUsageError("one PAGES_DIR only (\"" + a + "\" is a second)");
    }
  }
  if (o.pages.empty() || o.output.empty()) throw TUsageError("needs PAGES_DIR and -o OUT.exe");
  for (char c : o.caption)
    if (static_cast<unsigned char>(c) < 0x20)
      throw TUsageError("the caption holds a control character");
  return o;
}

std::string FirstExisting(const std::vector<std::string>& places) {
  for (const std::string& place : places) {
    std::error_code ignored;
    if (fs::is_regular_file(place, ignored)) return place;
  }
  return {};
}

std::string FindOrExplain(const std::string& given, const std::vector<std::string>& places,
                          const char* what, const char* option) {
  if (!given.empty()) {
    if (!fs::is_regular_file(given))
      throw Error(std::string("Cannot open ") + what + " \"" + given + "\"");
    return given;
  }
  const std::string found = FirstExisting(places);
  if (found.empty())
    throw Error(std::string("No ") + what + " beside the tool; name one with " + option);
  return found;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw Error("Cannot open file \"" + path + "\"");
  const std::streamoff size = in.tellg();
  if (size < 0) throw Error("Cannot read file \"" + path + "\"");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
    throw Error("Cannot read file \"" + path + "\"");
  return bytes;
}

std::string BytesText(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string FolderName(const std::string& folder) {
  fs::path p = fs::path(folder).lexically_normal();
  if (p.filename().empty()) p = p.parent_path();
  std::string name = p.filename().string();
  if (name.empty() || name == "." || name == "..")
    name = fs::weakly_canonical(p).filename().string();
  return name;
}

std::vector<std::uint8_t> ReadPagePicture(const TPagePicture& file) {
  std::error_code error;
  const std::uintmax_t bytes = fs::file_size(file.path, error);
  if (!error && bytes > kMaxPictureBytes)
    throw Error("\"" + file.name + "\" is too large for a movie: " + std::to_string(bytes) +
                " bytes (at most " + std::to_string(kMaxPictureBytes) + ")");
  std::vector<std::uint8_t> picture = ReadWholeFile(file.path);
  if (picture.size() > kMaxPictureBytes)
    throw Error("\"" + file.name + "\" is too large for a movie");
  return picture;
}

TPictureSize PagePictureSize(const TPagePicture& file, const std::vector<std::uint8_t>& picture) {
  TPictureSize size;
  try {
    size = ReadPictureSize(picture);
  } catch (const Error& e) {
    throw Error("\"" + file.name + "\": " + e.what());
  }
  if (size.width > kMaxPictureSide || size.height > kMaxPictureSide ||
      std::uint64_t(size.width) * size.height > kMaxPicturePixels)
    throw Error("\"" + file.name + "\" is too large for a movie: " + std::to_string(size.width) +
                " x " + std::to_string(size.height) + " pixels (at most " +
                std::to_string(kMaxPictureSide) + " on a side and " +
                std::to_string(kMaxPicturePixels) + " in all)");
  return size;
}

int Make(const TMakeOptions& o, std::ostream& out, bool interactive) {
  const std::vector<TPagePicture> files = ListPageFiles(o.pages);
  if (files.empty()) throw Error("No page pictures in \"" + o.pages + "\"");
  if (files.size() > kMaxPages) throw Error("More than 65535 pages in \"" + o.pages + "\"");
  if (PathLiesInside(o.pages, o.output)) throw Error("OUT.exe must not lie inside PAGES_DIR");
  const std::string toolFolder = o.player.empty() || o.runtime.empty() ? ToolFolder() : "";
  const std::string player =
      FindOrExplain(o.player, DefaultPlayerPlaces(toolFolder), "player", "--player");
  const std::string runtime =
      FindOrExplain(o.runtime, DefaultRuntimePlaces(toolFolder), "runtime", "--runtime");
  // The book replaces its file only once it is whole, and so would replace its own player.
  std::error_code ignored;
  if (fs::equivalent(o.output, player, ignored) || fs::equivalent(o.output, runtime, ignored))
    throw Error("OUT.exe must not be the player or the runtime");

  // Every page's size first: the stage is the size most pages have, and each page movie is laid
  // out on it.
  std::vector<TPictureSize> sizes;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (interactive && (i % 16 == 0 || i + 1 == files.size()))
      out << "\rreading pictures " << (i + 1) << " of " << files.size() << std::flush;
    sizes.push_back(PagePictureSize(files[i], ReadPagePicture(files[i])));
  }
  if (interactive) out << "\n";
  // Pages are laid out by their upright sizes; the fill matrix turns the stored picture.
  std::vector<TPictureSize> upright = sizes;
  for (TPictureSize& size : upright)
    if (size.uprightWidth && size.uprightHeight) {
      size.width = size.uprightWidth;
      size.height = size.uprightHeight;
    }
  const auto [stageWidth, stageHeight] = MostCommonSize(upright);

  TBundleWriter writer;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (interactive && (i % 16 == 0 || i + 1 == files.size()))
      out << "\rwriting pages " << (i + 1) << " of " << files.size() << std::flush;
    TPageLayout layout;
    layout.stageWidth = stageWidth;
    layout.stageHeight = stageHeight;
    layout.number = int(i) + 1;
    layout.count = int(files.size());
    layout.pageNumbers = o.pageNumbers;
    layout.orientation = sizes[i].orientation;
    writer.AddEntry(
        PageMovieName(int(i) + 1),
        BytesText(swf::WriteMovie(PageMovie(ReadPagePicture(files[i]), upright[i], layout))));
  }
  if (interactive) out << "\n";

  const std::string caption =
      WideToUtf8(SystemToWide(o.hasCaption ? o.caption : FolderName(o.pages)));
  writer.AddEntry("ExeConfig.xml", ExeConfigText(caption, o.mode, o.width, o.height));
  writer.AddEntry(
      "book.swf",
      BytesText(swf::WriteMovie(NavigatorMovie(int(files.size()), stageWidth, stageHeight))));
  writer.AddFile("flash.ocx", runtime);
  writer.SetDigest(o.digest);

  int shown = -1;
  TPackProgress progress;
  if (interactive) {
    progress = [&](std::int64_t done, std::int64_t total) {
      const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
      if (percent == shown) return;
      shown = percent;
      out << "\rpacking " << percent << "%" << std::flush;
    };
  }
  writer.WriteBook(player, o.output, progress);
  if (shown >= 0) out << "\n";
  const TExeExtReader written(o.output);
  out << "made " << o.output << ": " << files.size() << " pages on a " << stageWidth << " x "
      << stageHeight << " stage, bundle of " << written.SectionSize() << " bytes"
      << (o.digest ? " with digest" : "") << "\n";
  return 0;
}

}  // namespace

std::vector<std::string> DefaultPlayerPlaces(const std::string& toolFolder) {
  if (toolFolder.empty()) return {};
  const fs::path t(toolFolder);
  return {(t / "pageturn.exe").string(), (t / ".." / "app" / "pageturn.exe").string(),
          (t / ".." / ".." / "windows" / "app" / "pageturn.exe").string()};
}

std::vector<std::string> DefaultRuntimePlaces(const std::string& toolFolder) {
  if (toolFolder.empty()) return {};
  const fs::path t(toolFolder);
  return {(t / "flash.ocx").string(), (t / ".." / "standin" / "flash.ocx").string(),
          (t / ".." / ".." / "windows" / "standin" / "flash.ocx").string()};
}

std::string ToolFolder() {
#ifdef _WIN32
  wchar_t path[32768];
  const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
  if (n == 0 || n >= std::size(path)) return {};
  return fs::path(std::wstring(path, n)).parent_path().string();
#else
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
#endif
}

int RunMakeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool interactive) {
  if (HelpAsked(args)) {
    out << kMakeHelp;
    return 0;
  }
  try {
    return Make(ParseOptions(args), out, interactive);
  } catch (const TUsageError& e) {
    err << "pageturn-pack make: " << e.what() << "\n" << kMakeHelp;
    return 2;
  } catch (const std::exception& e) {
    if (interactive) out << "\n";
    err << "pageturn-pack make: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace pageturn
