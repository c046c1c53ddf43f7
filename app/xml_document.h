// A read-only XML document over the system XML DOM (MSXML 3), with just what the book
// configuration needs: parse from bytes, find elements by name, take an element's text.
#pragma once

#include <msxml2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/com.h"

namespace pageturn {

class TXmlElement {
 public:
  explicit TXmlElement(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}
  // The first child element of that exact name; raises Error when there is none.
  TXmlElement ChildElement(const std::wstring& name) const;
  // The value of the single text or CDATA child, verbatim; empty without children. Raises
  // Error("Element does not contain a single text node") for anything else.
  std::wstring Text() const;

 private:
  ComPtr<IXMLDOMNode> node_;
};

class TXmlDocument {
 public:
  // Parses a complete document; the encoding comes from its declaration. Raises Error when the
  // bytes are not well-formed XML or MSXML is not available. COM must be initialised.
  explicit TXmlDocument(const std::vector<std::uint8_t>& bytes);
  // The top-level element of that exact name; raises Error when there is none.
  TXmlElement TopLevelElement(const std::wstring& name) const;

 private:
  ComPtr<IXMLDOMDocument> document_;
};

}  // namespace pageturn
