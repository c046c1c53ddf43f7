// A small XML reader for the few documents the tool reads from books (ExeConfig.xml), the same
// on every system. Books are untrusted: every byte is checked, a document that is not
// well-formed XML 1.0 raises Error with the reason and its line, nothing is ever expanded
// (no document type entities), and nesting is bounded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pageturn {

struct TXmlNode {
  enum Kind { kElement, kText, kCData, kComment, kInstruction };
  Kind kind = kElement;
  std::string name;   // element name or instruction target, UTF-8
  std::string value;  // text, CDATA or comment content, UTF-8, line ends read as LF
  std::vector<TXmlNode> children;
};

// Parses a whole document. The encoding comes from a byte order mark or the declaration:
// UTF-8 (also when none is named), UTF-16, US-ASCII, ISO-8859-1 and windows-1252 are read;
// any other raises Error. Text that is only blanks between markup is dropped, as the system's
// XML DOM drops it by default. Returns the top-level nodes in document order.
std::vector<TXmlNode> ParseXmlDocument(std::string_view bytes);

// The first element among `nodes` named exactly `name`; Error("Element not found: NAME") when
// there is none.
const TXmlNode& FindXmlElement(const std::vector<TXmlNode>& nodes, const std::string& name);

// The value of the element's single text or CDATA child; empty without children. Raises
// Error("Element does not contain a single text node") for anything else.
std::string XmlElementText(const TXmlNode& element);

}  // namespace pageturn
