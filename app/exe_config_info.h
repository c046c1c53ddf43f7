// The book's configuration, ExeConfig.xml in the bundle: the window caption and how the window
// opens (at a size, maximised, full screen, or as a screen saver).
#pragma once

#include <cstdint>
#include <string>

#include "core/stream.h"

namespace pageturn {

class TExeConfigInfo {
 public:
  std::string ExeCaption;  // system code page
  std::int32_t WindowOpenMode = 0;
  std::int32_t WindowOpenWidth = 0;
  std::int32_t WindowOpenHeight = 0;
  bool ScreenSaver = false;

  static std::string ConfigFileName() { return "ExeConfig.xml"; }

  // Reads the whole stream from position 0. Raises Error when there is no stream, the bytes are
  // not well-formed XML, an element is missing, or an element holds more than one text node.
  // Non-numeric numbers take their defaults: mode 2, width 800, height 600.
  void LoadFromStream(TStream* stream);

 private:
  void SetScreenSaver(bool value) { ScreenSaver = value; }
};

}  // namespace pageturn
