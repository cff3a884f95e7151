#pragma once
// Seven-parameter 3D similarity (Helmert) transformation between Earth-
// centred Cartesian systems, and its least-squares estimation from
// identical points.
//
//   X' = m * R * X + T,   R = R3(kappa) * R2(phi) * R1(omega)
//
// Rotations in radians, translations in metres, m as a factor. The inverse
// is exact (R transposed), valid for any rotation size.
//
// The adjustment estimates all seven parameters at once by Gauss-Newton
// iteration on the full (not linearised) model, without reduction to the
// centroid, and stops when the magnitudes of successive corrections agree or
// after 1000 passes. It reports failure (0, parameters unchanged) for empty
// point lists and also for point sets that cannot determine the seven
// parameters (singular normal equations, e.g. fewer than three identical
// points, coincident or collinear points, areas of a few metres), that lead
// to non-finite values, or whose corrections have not settled after 1000
// passes: such values would be no estimate at all.

#include <cstddef>
#include <string>
#include <vector>

namespace tarvik {

struct CPointEx {
  std::string Id;
  double X = 0.0, Y = 0.0, Z = 0.0;
};

struct CIdPoint {
  std::string Id;
  // Position of the point in the source list.
  std::size_t SourceIndex = 0;
  double XSource = 0.0, YSource = 0.0, ZSource = 0.0;
  double XTarget = 0.0, YTarget = 0.0, ZTarget = 0.0;
  // Residuals (transformed source minus target), metres.
  double vX = 0.0, vY = 0.0, vZ = 0.0;
};

struct HelmertParameters {
  double omega = 0.0, phi = 0.0, kappa = 0.0;  // radians about X, Y, Z
  double TX = 0.0, TY = 0.0, TZ = 0.0;         // metres
  double m = 1.0;                              // scale factor
};

class C3DTrafo {
 public:
  C3DTrafo();

  const double Pi;   // 2 * acos(0)
  const double Rho;  // 180 / Pi: degrees per radian

  // Empties the source and target point lists.
  void Clear();
  void AddSourcePoint(const std::string& id, double X, double Y, double Z);
  void AddTargetPoint(const std::string& id, double X, double Y, double Z);

  void SetParameters(double omega, double phi, double kappa, double TX, double TY, double TZ, double m);
  void SetParameters(const HelmertParameters& parameters);
  void GetParameters(double& omega, double& phi, double& kappa, double& TX, double& TY, double& TZ,
                     double& m) const;
  const HelmertParameters& Parameters() const { return p_; }

  void TransformForward(double X, double Y, double Z, double& Xt, double& Yt, double& Zt) const;
  void TransformInverse(double Xt, double Yt, double Zt, double& X, double& Y, double& Z) const;

  static constexpr int kAdjustOK = 1;
  static constexpr int kAdjustFailed = 0;
  // kAdjustOK on success, kAdjustFailed on failure (see above).
  int Adjust();

  // Identical points of the last adjustment, in source list order, with residuals.
  const std::vector<CIdPoint>& IdenticalPoints() const { return identical_; }
  // Passes made by the last adjustment.
  int Passes() const { return passes_; }

  const std::vector<CPointEx>& SourcePoints() const { return source_; }
  const std::vector<CPointEx>& TargetPoints() const { return target_; }

  static constexpr int kMaxPasses = 1000;

 private:
  std::vector<CPointEx> source_;
  std::vector<CPointEx> target_;
  std::vector<CIdPoint> identical_;
  HelmertParameters p_;
  // The rotation matrix of p_, formed whenever the parameters change: a
  // request transforms some fifty points with one set of parameters.
  double R_[3][3];
  int passes_ = 0;
};

// R = R3(kappa) R2(phi) R1(omega), rows first.
void HelmertRotationMatrix(double omega, double phi, double kappa, double R[3][3]);

}  // namespace tarvik
