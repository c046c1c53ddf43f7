// A book's ExeConfig.xml read by the tool, the same on every system, by the rules the player
// reads it by: the caption, the window mode and the size for mode 1.
#pragma once

#include <string>
#include <string_view>

namespace pageturn {

struct TBookConfig {
  std::string caption;  // UTF-8
  int mode = 2;         // 1 sized, 2 maximised, 3 full screen, 4 screen saver, else as designed
  int width = 800;
  int height = 600;
};

// The entry name of the configuration in a bundle.
inline constexpr char kBookConfigName[] = "ExeConfig.xml";

// Reads the file's bytes. Raises Error with the reason when the player would apply nothing:
// not well-formed XML, no `ExeConfig` element or one of its four children missing, or a child
// holding anything but one text or CDATA node. A mode, width or height that is no plain
// decimal number takes its default (2, 800, 600), as in the player.
TBookConfig ReadBookConfig(std::string_view bytes);

}  // namespace pageturn
