#pragma once
// Optional residual interpolation of the Marlo database, switched on from the
// configuration's INI file. A database built with residuals at its identical
// points (tools/marlobuild) reproduces its source only with the library's
// interpolation on; without the section the library stays as InitDB leaves
// it, interpolation off.
//
//   [MarloInterpolation]
//   OnOff=1            ; 0 or missing: off
//   WeightFunction=2   ; 0 coefficient vectors, 1 1/d, 2 1/d^2, 3 exponential
//   NeighbourMode=0    ; 0 containing area, 1 and related areas, 2 radius, 3 all
//   SearchRadius=0     ; kilometres (neighbour mode 2)
//   ShapeDistance=0    ; metres (weight function 3)

#include <string>

namespace tarvik {

class CFileIni;
class CMarloDll;

// Reads the section and passes it to the loaded library; call after the
// database was opened (opening switches interpolation off). Returns the
// problem text to report, or "" when all is well or the section is absent.
std::string ApplyMarloInterpolation(const CFileIni& ini, CMarloDll& marlo);

}  // namespace tarvik
