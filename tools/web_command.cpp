#include "tools/web_command.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>

#include "bundle/bundle_names.h"
#include "bundle/exe_ext_reader.h"
#include "core/error.h"
#include "core/stream.h"
#include "tools/book_config.h"
#include "tools/command_options.h"
#include "tools/embedded_files.h"
#include "tools/make_command.h"
#include "tools/pack_command.h"

namespace pageturn {

namespace {

namespace fs = std::filesystem;

const char kWebHelp[] =
    "usage: pageturn-pack web BOOK.exe -o DIR [--title TEXT] [--ruffle DIR] [--force]\n"
    "                         [--allow-script]\n"
    "Writes DIR, a folder that plays the book in a web browser: index.html, every entry of the\n"
    "book at its own path (the runtime flash.ocx left out), and Ruffle, the open-source Flash\n"
    "player, under DIR/ruffle/. Serve DIR from any web server (WebAssembly as application/wasm);\n"
    "to try it: python3 -m http.server --bind 127.0.0.1 8000 --directory DIR\n"
    "The book is verified first; DIR is written beside its place and renamed into it.\n"
    "  --title TEXT    the page's title (default: the book's caption, else its file name)\n"
    "  --ruffle DIR    Ruffle's files (default: ruffle/ beside this tool or build/ruffle)\n"
    "  --force         replace an existing DIR (removed once the new one is in place)\n"
    "  --allow-script  let the movies run page script through ExternalInterface (off: the\n"
    "                  page refuses script evaluation)\n"
    "Exit codes: 0 written, 1 bad book or files, 2 bad usage.\n";

// The page's own files; an entry of the book of such a name would take their place.
const char* const kPageFiles[] = {"index.html", "pageturn.js", "pageturn.css", "ruffle"};

struct TWebOptions {
  std::string book, folder, title, ruffle;
  bool hasTitle = false, force = false, allowScript = false;
};

TWebOptions ParseOptions(const std::vector<std::string>& args) {
  TWebOptions o;
  TCommandOptions words(args);
  while (words.Next()) {
    const std::string& a = words.Word();
    if (a == "-o") {
      o.folder = words.Value();
    } else if (a == "--title") {
      o.title = words.Value();
      o.hasTitle = true;
    } else if (a == "--ruffle") {
      o.ruffle = words.Value();
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--allow-script") {
      o.allowScript = true;
    } else if (words.IsOption()) {
      words.RejectUnknown();
    } else if (o.book.empty()) {
      o.book = a;
    } else {
      throw TUsageError("one BOOK.exe only (\"" + a + "\" is a second)");
    }
  }
  if (o.book.empty() || o.folder.empty()) throw TUsageError("needs BOOK.exe and -o DIR");
  return o;
}

std::string FindRuffle(const std::string& given) {
  auto holdsRuffle = [](const std::string& folder) {
    std::error_code ignored;
    return fs::is_regular_file(fs::path(folder) / "ruffle.js", ignored);
  };
  if (!given.empty()) {
    if (!holdsRuffle(given)) throw Error("No Ruffle in \"" + given + "\" (it has no ruffle.js)");
    return given;
  }
  for (const std::string& place : DefaultRufflePlaces(ToolFolder()))
    if (holdsRuffle(place)) return place;
  throw Error(
      "No Ruffle beside the tool nor in the build tree (./build.sh setup fetches it); "
      "name one with --ruffle");
}

std::string HtmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// A JSON string that may stand inside an HTML script element: no "</" can end it early.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Only the folder's own files, and what Ruffle itself needs: compiling its WebAssembly, the
// inline stylesheet of its shadow root, data: images and blob: workers and media.
std::string ContentSecurityPolicy(bool allowScript) {
  return std::string("default-src 'self'; script-src 'self' 'wasm-unsafe-eval'") +
         (allowScript ? " 'unsafe-eval'" : "") +
         "; style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; media-src 'self' data: "
         "blob:; font-src 'self' data:; connect-src 'self' data: blob:; worker-src 'self' blob:; "
         "object-src 'none'; frame-src 'none'; base-uri 'self'; form-action 'none'";
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  TFileStream file(path.string(), TFileStream::Mode::Create);
  file.WriteBuffer(bytes.data(), bytes.size());
}

// A name beside `target` that no other run picks: the folder being written, or the old one.
fs::path SiblingName(const fs::path& target, const char* what) {
  std::random_device random;
  for (;;) {
    const fs::path candidate = target.parent_path() / (target.filename().string() + "." + what +
                                                       "-" + std::to_string(random() % 1000000));
    std::error_code ignored;
    if (!fs::exists(candidate, ignored)) return candidate;
  }
}

struct TEntry {
  std::string name;
  std::int32_t number;
};

int Web(const TWebOptions& o, std::ostream& out) {
  fs::path target = fs::absolute(fs::path(o.folder));
  if (target.filename().empty()) target = target.parent_path();  // "dir/" ends in an empty part
  std::error_code ignored;
  const bool replacing = fs::exists(fs::symlink_status(target, ignored));
  if (replacing && !o.force) throw Error("\"" + o.folder + "\" exists; give --force to replace it");
  if (replacing && !fs::is_directory(fs::symlink_status(target, ignored)))
    throw Error("\"" + o.folder + "\" exists and is no folder");
  const std::string ruffle = FindRuffle(o.ruffle);

  VerifyBook(o.book);
  const TExeExtReader reader(o.book);
  std::vector<TEntry> entries;
  std::set<std::string> seen;
  bool hasMovie = false;
  std::string configBytes;
  bool hasConfig = false;
  for (const TBundleIndexLine& line : ParseBundleIndex(reader.ReadEntryText(0))) {
    // Lookups find the first line of a name; a value that reads as 0 names nothing.
    if (!seen.insert(BundleNameKey(line.name)).second) continue;
    const std::int32_t number = BundleIndexNumber(line.value);
    if (number == 0 || SameBundleName(line.name, "flash.ocx")) continue;
    if (!IsSafeEntryPath(line.name))
      throw Error("Refusing to export \"" + line.name + "\": the name leaves the output folder");
    const std::string top = line.name.substr(0, line.name.find_first_of("/\\"));
    for (const char* own : kPageFiles)
      if (SameBundleName(top, own))
        throw Error("Refusing to export \"" + line.name + "\": the page's own " + own +
                    " has that name");
    if (SameBundleName(line.name, "book.swf")) hasMovie = true;
    if (SameBundleName(line.name, kBookConfigName)) {
      hasConfig = true;
      configBytes = reader.ReadEntryText(number);
    }
    entries.push_back({line.name, number});
  }
  if (!hasMovie) throw Error("The book holds no book.swf, the movie it plays");

  TBookConfig config;
  if (hasConfig) {
    try {
      config = ReadBookConfig(configBytes);
    } catch (const Error& e) {
      // The player applies nothing then, and so does the page.
      out << "note: ExeConfig.xml is not read (" << e.what() << "); the page takes the defaults\n";
    }
  }
  std::string title = o.hasTitle ? o.title : config.caption;
  if (title.empty()) title = fs::path(o.book).stem().string();

  const fs::path partial = SiblingName(target, "partial");
  try {
    std::uint32_t background = 0xFFFFFF;
    std::int64_t bookBytes = 0;
    std::vector<std::string> names;
    for (const TEntry& entry : entries) {
      TMemoryStream data;
      reader.ReadEntry(entry.number, data);
      const std::string_view bytes(reinterpret_cast<const char*>(data.Memory()),
                                   std::size_t(data.Size()));
      if (SameBundleName(entry.name, "book.swf")) {
        if (const auto colour = MovieBackgroundColor(bytes)) background = *colour;
      }
      // The name as the bundle writes it, the separators as a web address has them.
      std::string path = entry.name;
      for (char& c : path)
        if (c == '\\') c = '/';
      WriteFile(partial / fs::path(path), bytes);
      bookBytes += data.Size();
      names.push_back(path);
    }

    char colour[8];
    std::snprintf(colour, sizeof colour, "#%06x", unsigned(background & 0xFFFFFF));
    std::string bookJson = "{\"title\":" + JsonString(title) +
                           ",\"mode\":" + std::to_string(config.mode) +
                           ",\"width\":" + std::to_string(config.width) +
                           ",\"height\":" + std::to_string(config.height) + ",\"background\":\"" +
                           colour + "\",\"names\":[";
    for (std::size_t i = 0; i < names.size(); ++i)
      bookJson += (i ? "," : "") + JsonString(names[i]);
    bookJson += "]}";
    for (const TEmbeddedFile& file : WebPageFiles()) {
      std::string bytes(file.bytes);
      if (file.name == "index.html") {
        bytes = ReplaceAll(bytes, "{{CSP}}", ContentSecurityPolicy(o.allowScript));
        bytes = ReplaceAll(bytes, "{{TITLE}}", HtmlEscaped(title));
        bytes = ReplaceAll(bytes, "{{BACKGROUND}}", colour);
        bytes = ReplaceAll(bytes, "{{BOOK}}", bookJson);
      }
      WriteFile(partial / std::string(file.name), bytes);
    }

    std::int64_t ruffleBytes = 0;
    for (const fs::directory_entry& file : fs::recursive_directory_iterator(ruffle)) {
      if (!file.is_regular_file()) continue;
      const fs::path relative = fs::relative(file.path(), ruffle);
      const std::string name = relative.filename().string();
      // Source maps are for Ruffle's own debugging, and .version is the setup's stamp.
      if (name.starts_with(".") || name.ends_with(".map") || name == "package.json") continue;
      fs::create_directories((partial / "ruffle" / relative).parent_path());
      fs::copy_file(file.path(), partial / "ruffle" / relative);
      ruffleBytes += std::int64_t(file.file_size());
    }

    if (replacing) {
      const fs::path old = SiblingName(target, "old");
      fs::rename(target, old);
      try {
        fs::rename(partial, target);
      } catch (...) {
        fs::rename(old, target);
        throw;
      }
      fs::remove_all(old, ignored);
    } else {
      fs::rename(partial, target);
    }
    out << "wrote " << o.folder << ": " << names.size() << " files of the book (" << bookBytes
        << " bytes), the page and Ruffle (" << ruffleBytes << " bytes)\n";
  } catch (...) {
    fs::remove_all(partial, ignored);
    throw;
  }
  return kPackOk;
}

// Reads a movie's bytes through checked offsets only.
class TMovieBytes {
 public:
  explicit TMovieBytes(std::string_view bytes) : bytes_(bytes) {}
  bool Has(std::size_t count) const { return count <= bytes_.size() - at_; }
  std::uint32_t Byte() { return Has(1) ? std::uint8_t(bytes_[at_++]) : Fail(); }
  std::uint32_t Le16() { return Byte() | Byte() << 8; }
  std::uint32_t Le32() { return Le16() | Le16() << 16; }
  void Skip(std::size_t count) { at_ = Has(count) ? at_ + count : Fail(); }

 private:
  static std::uint32_t Fail() { throw Error("The movie ends early"); }
  std::string_view bytes_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<std::uint32_t> MovieBackgroundColor(std::string_view movie) {
  if (movie.size() < 8 || movie[1] != 'W' || movie[2] != 'S') return std::nullopt;
  std::string body;
  if (movie[0] == 'F') {
    body = movie.substr(8);
  } else if (movie[0] == 'C') {
    // The colour comes early: inflating the first 64 KB is enough for any real movie.
    body.resize(64 * 1024);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return std::nullopt;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(movie.data() + 8));
    z.avail_in = uInt(std::min<std::size_t>(movie.size() - 8, 1u << 30));
    z.next_out = reinterpret_cast<Bytef*>(body.data());
    z.avail_out = uInt(body.size());
    const int status = inflate(&z, Z_SYNC_FLUSH);
    body.resize(body.size() - z.avail_out);
    inflateEnd(&z);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return std::nullopt;
  } else {
    return std::nullopt;
  }
  try {
    TMovieBytes in(body);
    const std::uint32_t bits = in.Byte() >> 3;  // the frame rectangle: 5 bits, then 4 fields
    in.Skip((5 + 4 * bits + 7) / 8 - 1);
    in.Skip(4);  // frame rate and count
    for (;;) {
      const std::uint32_t header = in.Le16();
      std::uint32_t length = header & 0x3F;
      if (length == 0x3F) length = in.Le32();
      const std::uint32_t code = header >> 6;
      if (code == 0 || code == 1) return std::nullopt;  // End, ShowFrame: the first frame is over
      if (code == 9 && length >= 3) return in.Byte() << 16 | in.Byte() << 8 | in.Byte();
      in.Skip(length);
    }
  } catch (const Error&) {
    return std::nullopt;
  }
}

std::vector<std::string> DefaultRufflePlaces(const std::string& toolFolder) {
  if (toolFolder.empty()) return {};
  const fs::path t(toolFolder);
  return {(t / "ruffle").string(), (t / ".." / ".." / "ruffle").string()};
}

int RunWebCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (HelpAsked(args)) {
    out << kWebHelp;
    return kPackOk;
  }
  try {
    return Web(ParseOptions(args), out);
  } catch (const TUsageError& e) {
    err << "pageturn-pack web: " << e.what() << "\n" << kWebHelp;
    return kPackBadUsage;
  } catch (const std::exception& e) {
    err << "pageturn-pack web: " << e.what() << "\n";
    return kPackBadBook;
  }
}

}  // namespace pageturn
