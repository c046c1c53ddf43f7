#include "tools/xml_reader.h"

#include <cstdint>

#include "core/error.h"
#include "core/text.h"

namespace pageturn {

namespace {

constexpr int kDeepestNesting = 256;

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

bool IsXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

[[noreturn]] void Fail(const std::string& reason) {
  throw Error("The document is not well-formed XML: " + reason);
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) Fail("UTF-16 text of an odd length");
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](std::size_t i) {
    const auto a = std::uint8_t(bytes[i]), b = std::uint8_t(bytes[i + 1]);
    return bigEndian ? std::uint32_t(a << 8 | b) : std::uint32_t(b << 8 | a);
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t cp = unit(i);
    if (cp >= 0xDC00 && cp <= 0xDFFF) Fail("a lone UTF-16 low surrogate");
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 2 >= bytes.size()) Fail("a lone UTF-16 high surrogate");
      const std::uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) Fail("a lone UTF-16 high surrogate");
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string SingleByteToUtf8(std::string_view bytes, bool windows1252) {
  // windows-1252's letters and signs where ISO-8859-1 has C1 controls; 0 = unassigned.
  static const std::uint16_t k1252[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    std::uint32_t cp = std::uint8_t(c);
    if (windows1252 && cp >= 0x80 && cp < 0xA0 && k1252[cp - 0x80] != 0) cp = k1252[cp - 0x80];
    AppendUtf8(out, cp);
  }
  return out;
}

// The encoding named in a leading declaration, lower case; empty when none is named.
std::string DeclaredEncoding(std::string_view bytes) {
  if (bytes.substr(0, 5) != "<?xml") return {};
  const std::size_t end = bytes.substr(0, 1024).find("?>");
  if (end == std::string_view::npos) return {};
  const std::string_view decl = bytes.substr(0, end);
  const std::size_t key = decl.find("encoding");
  if (key == std::string_view::npos) return {};
  std::size_t i = key + 8;
  while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' ||
                             decl[i] == '\n' || decl[i] == '='))
    ++i;
  if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return {};
  const std::size_t close = decl.find(decl[i], i + 1);
  if (close == std::string_view::npos) return {};
  return LowerAscii(std::string(decl.substr(i + 1, close - i - 1)));
}

// The document as UTF-8, checked to hold XML characters only, with line ends read as LF.
std::string DecodedText(std::string_view bytes) {
  std::string text;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = bytes.substr(3);
  } else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    text = Utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE');
  } else if (bytes.substr(0, 4) == std::string_view("<\0?\0", 4) ||
             bytes.substr(0, 4) == std::string_view("\0<\0?", 4)) {
    text = Utf16ToUtf8(bytes, bytes[0] == '\0');
  } else {
    const std::string encoding = DeclaredEncoding(bytes);
    if (encoding.empty() || encoding == "utf-8" || encoding == "utf8" || encoding == "us-ascii" ||
        encoding == "ascii") {
      text = bytes;
    } else if (encoding == "iso-8859-1" || encoding == "latin1" || encoding == "iso_8859-1") {
      text = SingleByteToUtf8(bytes, false);
    } else if (encoding == "windows-1252" || encoding == "cp1252") {
      text = SingleByteToUtf8(bytes, true);
    } else {
      throw Error("The document's encoding \"" + encoding + "\" is not supported");
    }
  }

  std::string out;
  out.reserve(text.size());
  std::size_t line = 1;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = std::uint8_t(text[i]);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xC2 && lead < 0xE0 ? 2
                         : lead >= 0xE0 && lead < 0xF0 ? 3
                         : lead >= 0xF0 && lead < 0xF5 ? 4
                                                       : 0;
    if (length == 0 || length > text.size() - i)
      Fail("bytes that are not UTF-8 at line " + std::to_string(line));
    std::uint32_t cp = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = std::uint8_t(text[i + k]);
      if ((next & 0xC0) != 0x80) Fail("bytes that are not UTF-8 at line " + std::to_string(line));
      cp = cp << 6 | (next & 0x3F);
    }
    const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
    if (overlong || (cp >= 0xD800 && cp <= 0xDFFF))
      Fail("bytes that are not UTF-8 at line " + std::to_string(line));
    if (!IsXmlChar(cp)) Fail("a control character at line " + std::to_string(line));
    if (cp == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.append(text, i, length);
    }
    if (cp == '\r' || cp == '\n') ++line;
    i += length;
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
         std::uint8_t(c) >= 0x80;
}
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

class TParser {
 public:
  explicit TParser(std::string text) : s_(std::move(text)) {}

  std::vector<TXmlNode> Document() {
    std::vector<TXmlNode> nodes;
    if (Starts("<?xml") && pos_ + 5 < s_.size() && IsBlank(s_[pos_ + 5])) Declaration();
    bool doctype = false, root = false;
    for (;;) {
      SkipBlanks();
      if (pos_ >= s_.size()) break;
      if (Starts("<!--")) {
        nodes.push_back(Comment());
      } else if (Starts("<?")) {
        nodes.push_back(Instruction());
      } else if (Starts("<!DOCTYPE")) {
        if (doctype || root) Fail("a document type declaration out of place");
        SkipDoctype();
        doctype = true;
      } else if (Starts("<") && !root) {
        nodes.push_back(Element(0));
        root = true;
      } else {
        Fail(root ? "content after the document element" : "text before the document element");
      }
    }
    if (!root) Fail("no document element");
    return nodes;
  }

 private:
  [[noreturn]] void Fail(const std::string& reason) const {
    std::size_t line = 1;
    for (std::size_t i = 0; i < pos_ && i < s_.size(); ++i) line += s_[i] == '\n';
    pageturn::Fail(reason + " at line " + std::to_string(line));
  }
  bool Starts(std::string_view what) const {
    return std::string_view(s_).substr(pos_, what.size()) == what;
  }
  void Expect(std::string_view what, const char* reason) {
    if (!Starts(what)) Fail(reason);
    pos_ += what.size();
  }
  bool SkipBlanks() {
    const std::size_t start = pos_;
    while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
    return pos_ > start;
  }
  std::string Name() {
    if (pos_ >= s_.size() || !IsNameStart(s_[pos_])) Fail("a name expected");
    const std::size_t start = pos_;
    while (pos_ < s_.size() && IsNameChar(s_[pos_])) ++pos_;
    return s_.substr(start, pos_ - start);
  }
  // Everything up to `end`, which is consumed; Fail(reason) when it never comes.
  std::string Until(std::string_view end, const char* reason) {
    const std::size_t stop = s_.find(end, pos_);
    if (stop == std::string::npos) Fail(reason);
    std::string value = s_.substr(pos_, stop - pos_);
    pos_ = stop + end.size();
    return value;
  }

  // A quoted value with its references read; `<` is not allowed in it.
  std::string Quoted() {
    if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) Fail("a quoted value expected");
    const char quote = s_[pos_++];
    std::string value;
    for (;;) {
      if (pos_ >= s_.size()) Fail("an unterminated quoted value");
      const char c = s_[pos_];
      if (c == quote) break;
      if (c == '<') Fail("'<' in a quoted value");
      if (c == '&') {
        Reference(value);
      } else {
        value += c;
        ++pos_;
      }
    }
    ++pos_;
    return value;
  }

  void Declaration() {
    pos_ += 5;
    bool version = false;
    for (;;) {
      const bool blank = SkipBlanks();
      if (Starts("?>")) break;
      if (!blank) Fail("a blank expected in the declaration");
      const std::string key = Name();
      SkipBlanks();
      Expect("=", "'=' expected in the declaration");
      SkipBlanks();
      const std::string value = Quoted();
      if (key == "version" && !version && value.substr(0, 2) == "1.") {
        version = true;
      } else if (!version || (key != "encoding" && key != "standalone")) {
        Fail("a malformed declaration");
      }
    }
    if (!version) Fail("a declaration without a version");
    pos_ += 2;
  }

  TXmlNode Comment() {
    pos_ += 4;
    TXmlNode node{.kind = TXmlNode::kComment};
    node.value = Until("--", "an unterminated comment");
    if (!Starts(">")) Fail("'--' inside a comment");
    ++pos_;
    return node;
  }

  TXmlNode Instruction() {
    pos_ += 2;
    TXmlNode node{.kind = TXmlNode::kInstruction};
    node.name = Name();
    if (LowerAscii(node.name) == "xml") Fail("a declaration out of place");
    if (!Starts("?>") && !SkipBlanks()) Fail("a malformed processing instruction");
    node.value = Until("?>", "an unterminated processing instruction");
    return node;
  }

  // Skipped whole: nothing it declares is used, and nothing is ever expanded.
  void SkipDoctype() {
    pos_ += 9;
    int brackets = 0;
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"' || c == '\'') {
        const std::size_t close = s_.find(c, pos_);
        if (close == std::string::npos) break;
        pos_ = close + 1;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ']') {
        --brackets;
      } else if (c == '>' && brackets <= 0) {
        return;
      }
    }
    Fail("an unterminated document type declaration");
  }

  void Reference(std::string& out) {
    ++pos_;  // '&'
    if (Starts("#")) {
      ++pos_;
      const bool hex = Starts("x");
      if (hex) ++pos_;
      std::uint32_t cp = 0;
      std::size_t digits = 0;
      for (; pos_ < s_.size() && s_[pos_] != ';'; ++pos_, ++digits) {
        const char c = s_[pos_];
        int d = c >= '0' && c <= '9' ? c - '0' : -1;
        if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) Fail("a malformed character reference");
        cp = cp * (hex ? 16 : 10) + std::uint32_t(d);
        if (cp > 0x10FFFF) Fail("a character reference out of range");
      }
      if (digits == 0 || pos_ >= s_.size()) Fail("a malformed character reference");
      if (!IsXmlChar(cp)) Fail("a character reference to no XML character");
      ++pos_;
      AppendUtf8(out, cp);
      return;
    }
    const std::string name = Name();
    Expect(";", "a reference without ';'");
    if (name == "lt") {
      out += '<';
    } else if (name == "gt") {
      out += '>';
    } else if (name == "amp") {
      out += '&';
    } else if (name == "apos") {
      out += '\'';
    } else if (name == "quot") {
      out += '"';
    } else {
      Fail("a reference to the unknown entity \"" + name + "\"");
    }
  }

  TXmlNode Element(int depth) {
    if (depth >= kDeepestNesting) Fail("elements nested too deeply");
    ++pos_;  // '<'
    TXmlNode element;
    element.name = Name();
    std::vector<std::string> attributes;
    for (;;) {
      const bool blank = SkipBlanks();
      if (Starts("/>")) {
        pos_ += 2;
        return element;
      }
      if (Starts(">")) break;
      if (!blank) Fail("a malformed start tag");
      std::string key = Name();
      for (const std::string& seen : attributes)
        if (seen == key) Fail("the attribute \"" + key + "\" given twice");
      SkipBlanks();
      Expect("=", "'=' expected after an attribute name");
      SkipBlanks();
      Quoted();
      attributes.push_back(std::move(key));
    }
    ++pos_;  // '>'

    std::string text;
    auto flushText = [&] {
      if (text.find_first_not_of(" \t\n") != std::string::npos)
        element.children.push_back({.kind = TXmlNode::kText, .value = std::move(text)});
      text.clear();
    };
    for (;;) {
      if (pos_ >= s_.size()) Fail("the element \"" + element.name + "\" is not closed");
      const char c = s_[pos_];
      if (c == '&') {
        Reference(text);
      } else if (c != '<') {
        if (Starts("]]>")) Fail("']]>' in text");
        text += c;
        ++pos_;
      } else if (Starts("</")) {
        pos_ += 2;
        if (Name() != element.name) Fail("the element \"" + element.name + "\" closed by another");
        SkipBlanks();
        Expect(">", "a malformed end tag");
        flushText();
        return element;
      } else {
        flushText();
        if (Starts("<![CDATA[")) {
          pos_ += 9;
          element.children.push_back(
              {.kind = TXmlNode::kCData, .value = Until("]]>", "an unterminated CDATA section")});
        } else if (Starts("<!--")) {
          element.children.push_back(Comment());
        } else if (Starts("<?")) {
          element.children.push_back(Instruction());
        } else if (Starts("<!")) {
          Fail("a declaration inside an element");
        } else {
          element.children.push_back(Element(depth + 1));
        }
      }
    }
  }

  std::string s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<TXmlNode> ParseXmlDocument(std::string_view bytes) {
  return TParser(DecodedText(bytes)).Document();
}

const TXmlNode& FindXmlElement(const std::vector<TXmlNode>& nodes, const std::string& name) {
  for (const TXmlNode& node : nodes)
    if (node.kind == TXmlNode::kElement && node.name == name) return node;
  throw Error("Element not found: " + name);
}

std::string XmlElementText(const TXmlNode& element) {
  if (element.children.empty()) return {};
  const TXmlNode& only = element.children[0];
  if (element.children.size() == 1 &&
      (only.kind == TXmlNode::kText || only.kind == TXmlNode::kCData))
    return only.value;
  throw Error("Element does not contain a single text node");
}

}  // namespace pageturn
