#pragma once
// Run-time binding of PelProjection.so. The library is loaded once per copy
// of this library (by full path: the host program's folder first, then the
// folder of this library) and bound by name; each use keeps its own copy of
// the projection state and pushes the whole copy with InitializeDLL before
// every conversion, so whatever another caller set in between never leaks in.

namespace marlo {

struct ProjectionFunctions;

// The loaded library's entry points, or nullptr when the library or one of
// the bound names is missing. Loading is tried once.
const ProjectionFunctions* LoadedProjection();

class ProjectionBinding {
 public:
  ProjectionBinding();
  explicit ProjectionBinding(const ProjectionFunctions* functions) : f_(functions) {}

  bool Usable() const { return f_ != nullptr; }

  // Setters update the state copy; it reaches the library with the next
  // conversion.
  void SetL0(double L0) { L0_ = L0; }
  void SetB0(double B0) { B0_ = B0; }
  void SetEllipDim(double a, double b) {
    a_ = a;
    b_ = b;
  }
  void SetBNord(double v) { BNord_ = v; }
  void SetBSued(double v) { BSued_ = v; }

  // 1 on success, -1000 when the binding is not usable (outputs untouched).
  int BLH_to_XYZ(double B, double L, double H, double* X, double* Y, double* Z) const;
  int XYZ_to_BLH(double X, double Y, double Z, double* B, double* L, double* H) const;
  int BL_to_EN_GK(double B, double L, double* E, double* N) const;
  int EN_to_BL_GK(double E, double N, double* B, double* L) const;
  int BL_to_EN_UTM_Raw(double B, double L, double* E, double* N) const;
  int EN_to_BL_UTM_Raw(double E, double N, double* B, double* L) const;
  int BL_to_EN_EOV(double B, double L, double* E, double* N) const;
  int EN_to_BL_EOV(double E, double N, double* B, double* L) const;
  // Also -1 when the projection library refuses the point.
  int BL_to_EN_Lambert(double B, double L, double* E, double* N) const;

  // BLH_to_XYZ and XYZ_to_BLH for count points, the same bits as single
  // calls: one push and one array call where the library has the array
  // exports, else a push and a single call per point. An output array may
  // be an input array; nothing else may overlap.
  int BLH_to_XYZ(int count, const double* B, const double* L, const double* H, double* X, double* Y,
                 double* Z) const;
  int XYZ_to_BLH(int count, const double* X, const double* Y, const double* Z, double* B, double* L,
                 double* H) const;
  int BL_to_EN_GK(int count, const double* B, const double* L, double* E, double* N) const;

 private:
  void Push() const;

  const ProjectionFunctions* f_;
  double L0_ = 0.0;
  int L0Auto_ = 0;
  double B0_ = 0.0;
  double a_ = 0.0;
  double b_ = 0.0;
  double BNord_ = 0.0;
  double BSued_ = 0.0;
  double FalseNorth_ = 0.0;
  double FalseEast_ = 0.0;
  int LambType_ = 0;
  int LambCase_ = 0;
  int GKCase_ = 0;
};

}  // namespace marlo
