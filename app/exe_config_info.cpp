#include "app/exe_config_info.h"

#include <vector>

#include "app/xml_document.h"
#include "core/error.h"
#include "core/text.h"

namespace pageturn {

namespace {

std::int32_t NumberOr(const TXmlElement& element, std::int32_t fallback) {
  int value;
  return TryParseInt32(WideToSystem(element.Text()), value) ? value : fallback;
}

}  // namespace

void TExeConfigInfo::LoadFromStream(TStream* stream) {
  if (!stream) throw Error("No configuration stream");
  stream->SetPosition(0);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stream->Size()));
  if (!bytes.empty()) stream->ReadBuffer(bytes.data(), bytes.size());

  const TXmlDocument document(bytes);
  const TXmlElement config = document.TopLevelElement(L"ExeConfig");
  ExeCaption = WideToSystem(config.ChildElement(L"ExeCaption").Text());
  WindowOpenMode = NumberOr(config.ChildElement(L"WindowOpenMode"), 2);
  WindowOpenWidth = NumberOr(config.ChildElement(L"WindowOpenWidth"), 800);
  WindowOpenHeight = NumberOr(config.ChildElement(L"WindowOpenHeight"), 600);
  SetScreenSaver(WindowOpenMode == 4);
}

}  // namespace pageturn
