// The fixed figure the companion and frame targets read their inputs onto:
// the patriarch a.seg with two children, b.seg and a second a.seg, so that
// records matched by path meet two nodes sharing a segment file.
#pragma once

#include <utility>

#include "figure/figure_file.h"
#include "fuzz_support.h"

namespace zentrope::fuzz {

inline Figure FixedFigure() {
  static constexpr const char* kFigure =
      "FIGU 4 0 1 0 0 0\n0\n"
      "a.seg\n2\n0 0 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n1 0\n"
      "b.seg\n2\n0 -10 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n0 1\n"
      "a.seg\n2\n0 -20 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n0 0\n";
  Result<Figure> figure = ParseFigure(kFigure, PathOf("fixed.fig"));
  if (!figure || figure->nodes.size() != 3) {
    Finding("the fixed figure does not read");
  }
  return std::move(*figure);
}

}  // namespace zentrope::fuzz
