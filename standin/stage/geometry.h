// The geometry the player draws and hit-tests with: affine transforms from the file's matrices,
// shapes flattened to contours per fill style, and the stage fitted into a window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "swf/movie.h"

namespace standin::swf {

struct Point {
  double x = 0, y = 0;
};

// x' = a*x + c*y + tx; y' = b*x + d*y + ty (the file's ScaleX, RotateSkew0, RotateSkew1,
// ScaleY, TranslateX, TranslateY).
struct Affine {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static Affine From(const ::swf::Matrix& m);
  static Affine Scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
  Point Apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
  // This transform applied after `inner`.
  Affine After(const Affine& inner) const;
  // False when the transform squashes the plane (no inverse).
  bool Invert(Affine& out) const;
  bool HasRotation() const { return b != 0 || c != 0; }
};

// One fill of a shape: its style and the closed contours (twips) it fills, even-odd.
struct ShapeFill {
  ::swf::FillStyle style;
  std::vector<std::vector<Point>> contours;
};

struct ShapeLine {
  ::swf::LineStyle style;
  std::vector<std::vector<Point>> polylines;
};

struct FlatShape {
  std::vector<ShapeFill> fills;
  std::vector<ShapeLine> lines;
};

// The shape's records as contours; curves become short straight pieces. Style indexes that
// name no style are ignored.
FlatShape Flatten(const ::swf::DefineShape& shape);

// Even-odd inside test of the contours of every fill (lines do not count).
bool Contains(const FlatShape& shape, Point twips);

// Stage (twips) to window (pixels) for a window of width x height pixels. `scale` is the Scale
// property ("ShowAll" when empty or unknown, "NoBorder", "ExactFit", "NoScale"; any case);
// `align` the SAlign letters (T, B, L, R).
Affine FitStage(const ::swf::Rect& frameSize, int width, int height, const std::string& scale,
                const std::string& align);

}  // namespace standin::swf
