#include "tools/book_config.h"

#include "core/text.h"
#include "tools/xml_reader.h"

namespace pageturn {

TBookConfig ReadBookConfig(std::string_view bytes) {
  const std::vector<TXmlNode> document = ParseXmlDocument(bytes);
  const TXmlNode& config = FindXmlElement(document, "ExeConfig");
  auto number = [&](const char* name, int fallback) {
    int value;
    return TryParseInt32(XmlElementText(FindXmlElement(config.children, name)), value) ? value
                                                                                       : fallback;
  };
  TBookConfig result;
  result.caption = XmlElementText(FindXmlElement(config.children, "ExeCaption"));
  result.mode = number("WindowOpenMode", 2);
  result.width = number("WindowOpenWidth", 800);
  result.height = number("WindowOpenHeight", 600);
  return result;
}

}  // namespace pageturn
