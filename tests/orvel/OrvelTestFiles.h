#pragma once
#include <string>

#include "geodesy/GeodesyTestFiles.h"

// 3 x 3 nodes, 47..48 N, 13..14 E; height = 40 + 2 * row + column (row 0 south).
inline std::string SmallGrid(const std::string& west = "13", const std::string& east = "14") {
  return "# test grid\nORVELGRID 1\n\nsouth 47 north 48 west " + west + " east " + east +
         "\ndlat 0.5 dlon 0.5\nrows 3 columns 3\n40 41 42\n42 43 44\n  # comment among values\n"
         "44 45 46\n";
}
