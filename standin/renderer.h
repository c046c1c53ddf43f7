// Drawing of the player's levels into the object's window: every level's display list over the
// background, in the stage's coordinates, the stage fitted to the window; double-buffered.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "player.h"
#include "stage/geometry.h"

namespace standin {

struct StageSettings {
  std::string scale;  // the Scale property ("ShowAll", "NoBorder", "ExactFit", "NoScale")
  std::string align;  // SAlign letters
  COLORREF background = RGB(255, 255, 255);
  // The button being pressed, drawn in its Down state.
  int pressedLevel = -1;
  uint16_t pressedDepth = 0;
};

// The main movie's stage (550 x 400 pixels without one) to the window's client pixels.
swf::Affine StageTransform(const Player& player, int width, int height,
                           const StageSettings& settings);

// Paints the client rectangle of `dc`. `status` lines are written over it when no movie shows.
void RenderStage(HDC dc, const RECT& client, Player& player, const StageSettings& settings,
                 const std::vector<std::wstring>& status);

}  // namespace standin
