#include "stage/geometry.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

namespace standin::swf {

namespace {

// Pieces per quadratic curve: enough for page-sized shapes, cheap for hit tests.
constexpr int kCurvePieces = 8;

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EvenOddInside(const std::vector<Point>& contour, Point p) {
  bool inside = false;
  size_t n = contour.size();
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const Point& a = contour[i];
    const Point& b = contour[j];
    if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
      inside = !inside;
  }
  return inside;
}

}  // namespace

Affine Affine::From(const ::swf::Matrix& m) {
  Affine t;
  if (m.hasScale) {
    t.a = m.scaleX / 65536.0;
    t.d = m.scaleY / 65536.0;
  }
  if (m.hasRotate) {
    t.b = m.rotateSkew0 / 65536.0;
    t.c = m.rotateSkew1 / 65536.0;
  }
  t.tx = m.translateX;
  t.ty = m.translateY;
  return t;
}

Affine Affine::After(const Affine& in) const {
  return {a * in.a + c * in.b, b * in.a + d * in.b,        a * in.c + c * in.d,
          b * in.c + d * in.d, a * in.tx + c * in.ty + tx, b * in.tx + d * in.ty + ty};
}

bool Affine::Invert(Affine& out) const {
  double det = a * d - b * c;
  if (det == 0 || !(det == det)) return false;
  out.a = d / det;
  out.b = -b / det;
  out.c = -c / det;
  out.d = a / det;
  out.tx = -(out.a * tx + out.c * ty);
  out.ty = -(out.b * tx + out.d * ty);
  return true;
}

FlatShape Flatten(const ::swf::DefineShape& shape) {
  FlatShape out;
  // Styles are told apart by the list they came from (a new-styles record starts a new list).
  std::map<std::pair<int, uint32_t>, size_t> fillSlot, lineSlot;
  const std::vector<::swf::FillStyle>* fills = &shape.fillStyles;
  const std::vector<::swf::LineStyle>* lines = &shape.lineStyles;
  int list = 0;
  uint32_t fill0 = 0, fill1 = 0, line = 0;
  Point pen;
  std::vector<Point> path;

  auto flush = [&] {
    if (path.size() >= 2) {
      // A contour between two areas of the same fill belongs to it once.
      for (uint32_t f : {fill0, fill1 == fill0 ? 0u : fill1}) {
        if (f == 0 || f > fills->size()) continue;
        auto [it, added] = fillSlot.try_emplace({list, f}, out.fills.size());
        if (added) out.fills.push_back({(*fills)[f - 1], {}});
        out.fills[it->second].contours.push_back(path);
      }
      if (line != 0 && line <= lines->size()) {
        auto [it, added] = lineSlot.try_emplace({list, line}, out.lines.size());
        if (added) out.lines.push_back({(*lines)[line - 1], {}});
        out.lines[it->second].polylines.push_back(path);
      }
    }
    path.assign(1, pen);
  };

  path.push_back(pen);
  for (const auto& r : shape.records) {
    switch (r.kind) {
      case ::swf::ShapeRecord::kStyleChange:
        flush();
        if (r.hasNewStyles) {
          fills = &r.newFillStyles;
          lines = &r.newLineStyles;
          ++list;
          fill0 = fill1 = line = 0;
        }
        if (r.hasMoveTo) pen = {double(r.moveX), double(r.moveY)};
        if (r.fillStyle0) fill0 = *r.fillStyle0;
        if (r.fillStyle1) fill1 = *r.fillStyle1;
        if (r.lineStyle) line = *r.lineStyle;
        path.assign(1, pen);
        break;
      case ::swf::ShapeRecord::kStraightEdge:
        pen = {pen.x + r.dx, pen.y + r.dy};
        path.push_back(pen);
        break;
      case ::swf::ShapeRecord::kCurvedEdge: {
        Point start = pen;
        Point control{start.x + r.dx, start.y + r.dy};
        Point end{control.x + r.anchorDx, control.y + r.anchorDy};
        for (int i = 1; i <= kCurvePieces; ++i) {
          double t = double(i) / kCurvePieces, u = 1 - t;
          path.push_back({u * u * start.x + 2 * u * t * control.x + t * t * end.x,
                          u * u * start.y + 2 * u * t * control.y + t * t * end.y});
        }
        pen = end;
        break;
      }
    }
  }
  flush();
  return out;
}

bool Contains(const FlatShape& shape, Point p) {
  for (const auto& fill : shape.fills) {
    bool inside = false;
    for (const auto& contour : fill.contours)
      if (contour.size() >= 3 && EvenOddInside(contour, p)) inside = !inside;
    if (inside) return true;
  }
  return false;
}

Affine FitStage(const ::swf::Rect& frame, int width, int height, const std::string& scale,
                const std::string& align) {
  double stageW = double(frame.xMax - frame.xMin), stageH = double(frame.yMax - frame.yMin);
  if (stageW <= 0 || stageH <= 0) return Affine::Scale(1 / 20.0, 1 / 20.0);
  std::string mode = Lower(scale);
  double sx = width / stageW, sy = height / stageH;
  if (mode == "noscale") {
    sx = sy = 1 / 20.0;
  } else if (mode == "exactfit") {
    // as computed
  } else if (mode == "noborder") {
    sx = sy = std::max(sx, sy);
  } else {
    sx = sy = std::min(sx, sy);
  }
  std::string pin = Lower(align);
  auto has = [&](char c) { return pin.find(c) != std::string::npos; };
  double spareX = width - stageW * sx, spareY = height - stageH * sy;
  double x = has('l') ? 0 : has('r') ? spareX : spareX / 2;
  double y = has('t') ? 0 : has('b') ? spareY : spareY / 2;
  return {sx, 0, 0, sy, x - frame.xMin * sx, y - frame.yMin * sy};
}

}  // namespace standin::swf
