#include "geodesy/C3DTrafo.h"

#include <cmath>

#include "geodesy/CMatrix.h"

namespace tarvik {

namespace {

// Convergence bounds on the change of the correction magnitudes between
// successive passes.
constexpr double kRotationBound = 1e-12;    // radians
constexpr double kScaleBound = 1e-9;        // factor
constexpr double kTranslationBound = 1e-5;  // metres
// Room made for the point lists at their first point: a request adjusts
// the 16 nodes of its grid.
constexpr std::size_t kTypicalPoints = 16;
// Pivot bound of the equilibrated normal matrix: below it the point set
// cannot determine all seven parameters.
constexpr double kSingularBound = 1e-13;

void Multiply(const double R[3][3], double x, double y, double z, double out[3]) {
  out[0] = R[0][0] * x + R[0][1] * y + R[0][2] * z;
  out[1] = R[1][0] * x + R[1][1] * y + R[1][2] * z;
  out[2] = R[2][0] * x + R[2][1] * y + R[2][2] * z;
}

// Product of three 3x3 matrices a*b*c.
void Product3(const double a[3][3], const double b[3][3], const double c[3][3], double out[3][3]) {
  double ab[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) ab[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i][j] = ab[i][0] * c[0][j] + ab[i][1] * c[1][j] + ab[i][2] * c[2][j];
}

// The sines and cosines of the three rotations.
struct RotationAngles {
  double co, so, cp, sp, ck, sk;
};

RotationAngles AnglesOf(double omega, double phi, double kappa) {
  return {std::cos(omega), std::sin(omega), std::cos(phi), std::sin(phi), std::cos(kappa), std::sin(kappa)};
}

void RotationMatrix(const RotationAngles& a, double R[3][3]) {
  const double co = a.co, so = a.so, cp = a.cp, sp = a.sp, ck = a.ck, sk = a.sk;
  R[0][0] = cp * ck;
  R[0][1] = co * sk + so * sp * ck;
  R[0][2] = so * sk - co * sp * ck;
  R[1][0] = -cp * sk;
  R[1][1] = co * ck - so * sp * sk;
  R[1][2] = co * sp * sk + so * ck;
  R[2][0] = sp;
  R[2][1] = -so * cp;
  R[2][2] = co * cp;
}

// The three partial derivatives dR/domega, dR/dphi, dR/dkappa.
void RotationDerivatives(const RotationAngles& a, double dO[3][3], double dP[3][3], double dK[3][3]) {
  const double co = a.co, so = a.so, cp = a.cp, sp = a.sp, ck = a.ck, sk = a.sk;
  const double R1[3][3] = {{1, 0, 0}, {0, co, so}, {0, -so, co}};
  const double R2[3][3] = {{cp, 0, -sp}, {0, 1, 0}, {sp, 0, cp}};
  const double R3[3][3] = {{ck, sk, 0}, {-sk, ck, 0}, {0, 0, 1}};
  const double dR1[3][3] = {{0, 0, 0}, {0, -so, co}, {0, -co, -so}};
  const double dR2[3][3] = {{-sp, 0, -cp}, {0, 0, 0}, {cp, 0, -sp}};
  const double dR3[3][3] = {{-sk, ck, 0}, {-ck, -sk, 0}, {0, 0, 0}};
  Product3(R3, R2, dR1, dO);
  Product3(R3, dR2, R1, dP);
  Product3(dR3, R2, R1, dK);
}

// The sums of one pass's normal equations as separate scalars, each one
// chain of additions in the order of the observations.
struct NormalSums {
  double aa[10] = {};       // a_i·a_j for i <= j < 4, row by row
  double cross[3][4] = {};  // a_i over the rows of coordinate c
  double al[4] = {};        // a_i·l
  double l[3] = {};         // l over the rows of coordinate c
  double rows[3] = {};      // 1 for every row of coordinate c

  // One observation of coordinate C: the design entries of the rotations
  // and the scale, and the observation l.
  template <int C>
  void Add(const double (&a)[4], double obs) {
    aa[0] += a[0] * a[0];
    aa[1] += a[0] * a[1];
    aa[2] += a[0] * a[2];
    aa[3] += a[0] * a[3];
    aa[4] += a[1] * a[1];
    aa[5] += a[1] * a[2];
    aa[6] += a[1] * a[3];
    aa[7] += a[2] * a[2];
    aa[8] += a[2] * a[3];
    aa[9] += a[3] * a[3];
    for (int i = 0; i < 4; ++i) cross[C][i] += a[i];
    for (int i = 0; i < 4; ++i) al[i] += a[i] * obs;
    l[C] += obs;
    rows[C] += 1.0;
  }

  // The symmetric normal matrix and the right-hand side.
  void Fill(double N[7][7], double n[7]) const {
    int k = 0;
    for (int i = 0; i < 4; ++i)
      for (int j = i; j < 4; ++j) N[i][j] = N[j][i] = aa[k++];
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < 4; ++i) N[i][4 + c] = N[4 + c][i] = cross[c][i];
      for (int c2 = 0; c2 < 3; ++c2) N[4 + c][4 + c2] = c == c2 ? rows[c] : 0.0;
      n[4 + c] = l[c];
    }
    for (int i = 0; i < 4; ++i) n[i] = al[i];
  }
};

bool Finite(const HelmertParameters& p) {
  return std::isfinite(p.omega) && std::isfinite(p.phi) && std::isfinite(p.kappa) && std::isfinite(p.TX) &&
         std::isfinite(p.TY) && std::isfinite(p.TZ) && std::isfinite(p.m);
}

}  // namespace

void HelmertRotationMatrix(double omega, double phi, double kappa, double R[3][3]) {
  RotationMatrix(AnglesOf(omega, phi, kappa), R);
}

C3DTrafo::C3DTrafo() : Pi(2.0 * std::acos(0.0)), Rho(180.0 / (2.0 * std::acos(0.0))) { SetParameters(p_); }

void C3DTrafo::Clear() {
  source_.clear();
  target_.clear();
}

void C3DTrafo::AddSourcePoint(const std::string& id, double X, double Y, double Z) {
  if (source_.empty()) source_.reserve(kTypicalPoints);
  source_.push_back(CPointEx{id, X, Y, Z});
}

void C3DTrafo::AddTargetPoint(const std::string& id, double X, double Y, double Z) {
  if (target_.empty()) target_.reserve(kTypicalPoints);
  target_.push_back(CPointEx{id, X, Y, Z});
}

void C3DTrafo::SetParameters(double omega, double phi, double kappa, double TX, double TY, double TZ,
                             double m) {
  SetParameters(HelmertParameters{omega, phi, kappa, TX, TY, TZ, m});
}

void C3DTrafo::SetParameters(const HelmertParameters& parameters) {
  p_ = parameters;
  HelmertRotationMatrix(p_.omega, p_.phi, p_.kappa, R_);
}

void C3DTrafo::GetParameters(double& omega, double& phi, double& kappa, double& TX, double& TY, double& TZ,
                             double& m) const {
  omega = p_.omega;
  phi = p_.phi;
  kappa = p_.kappa;
  TX = p_.TX;
  TY = p_.TY;
  TZ = p_.TZ;
  m = p_.m;
}

void C3DTrafo::TransformForward(double X, double Y, double Z, double& Xt, double& Yt, double& Zt) const {
  double r[3];
  Multiply(R_, X, Y, Z, r);
  Xt = p_.m * r[0] + p_.TX;
  Yt = p_.m * r[1] + p_.TY;
  Zt = p_.m * r[2] + p_.TZ;
}

void C3DTrafo::TransformInverse(double Xt, double Yt, double Zt, double& X, double& Y, double& Z) const {
  const double(&R)[3][3] = R_;
  const double dx = Xt - p_.TX, dy = Yt - p_.TY, dz = Zt - p_.TZ;
  // R is orthogonal: its inverse is its transpose.
  X = (R[0][0] * dx + R[1][0] * dy + R[2][0] * dz) / p_.m;
  Y = (R[0][1] * dx + R[1][1] * dy + R[2][1] * dz) / p_.m;
  Z = (R[0][2] * dx + R[1][2] * dy + R[2][2] * dz) / p_.m;
}

int C3DTrafo::Adjust() {
  passes_ = 0;
  identical_.clear();
  if (source_.empty() || target_.empty()) return kAdjustFailed;
  identical_.reserve(source_.size());
  for (const CPointEx& s : source_) {
    for (const CPointEx& t : target_) {
      if (t.Id == s.Id) {
        identical_.push_back(CIdPoint{s.Id, s.X, s.Y, s.Z, t.X, t.Y, t.Z, 0.0, 0.0, 0.0});
        break;
      }
    }
  }

  // The estimate lives in `p` and replaces the parameters only on success.
  HelmertParameters p;  // start values: no rotation, no translation, m = 1
  double lastRotation = 0.0, lastScale = 0.0, lastTranslation = 0.0;
  bool converged = false;
  CMatrix Ns(7, 7, 0.0);  // the equilibrated normal matrix, inverted in place in every pass
  if (!Ns.IsValid()) return kAdjustFailed;
  for (int pass = 1; pass <= kMaxPasses && !converged; ++pass) {
    passes_ = pass;
    double R[3][3], dO[3][3], dP[3][3], dK[3][3];
    const RotationAngles angles = AnglesOf(p.omega, p.phi, p.kappa);
    RotationMatrix(angles, R);
    RotationDerivatives(angles, dO, dP, dK);

    // Normal equations, parameters in the order omega, phi, kappa, m, TX,
    // TY, TZ. The design row of coordinate c holds 1 for its own translation
    // and 0 for the other two, so their products are added as the plain
    // values and the zero products are left out: the sums start at +0 and
    // can never become -0, so adding a zero would change no bit (and where a
    // product is not finite, the diagonal or the right-hand side is not
    // either, and the pass fails as it would with those products).
    NormalSums sums;
    const double T[3] = {p.TX, p.TY, p.TZ};
    for (const CIdPoint& q : identical_) {
      double r[3], ro[3], rp[3], rk[3];
      Multiply(R, q.XSource, q.YSource, q.ZSource, r);
      Multiply(dO, q.XSource, q.YSource, q.ZSource, ro);
      Multiply(dP, q.XSource, q.YSource, q.ZSource, rp);
      Multiply(dK, q.XSource, q.YSource, q.ZSource, rk);
      const double target[3] = {q.XTarget, q.YTarget, q.ZTarget};
      sums.Add<0>({p.m * ro[0], p.m * rp[0], p.m * rk[0], r[0]}, target[0] - (p.m * r[0] + T[0]));
      sums.Add<1>({p.m * ro[1], p.m * rp[1], p.m * rk[1], r[1]}, target[1] - (p.m * r[1] + T[1]));
      sums.Add<2>({p.m * ro[2], p.m * rp[2], p.m * rk[2], r[2]}, target[2] - (p.m * r[2] + T[2]));
    }
    double N[7][7], n[7];
    sums.Fill(N, n);

    // Equilibrate so that the pivot bound means the same for rotations in
    // radians and translations in metres: N = D Ns D with D = sqrt(diag N).
    double d[7];
    for (int i = 0; i < 7; ++i) {
      if (!(N[i][i] > 0.0) || !std::isfinite(N[i][i])) return kAdjustFailed;
      d[i] = std::sqrt(N[i][i]);
    }
    // N and the products d_i·d_j are symmetric, so each quotient serves both
    // of its places.
    for (int i = 0; i < 7; ++i)
      for (int j = i; j < 7; ++j) Ns[i][j] = Ns[j][i] = N[i][j] / (d[i] * d[j]);
    if (!Ns.InvertFullPivot(kSingularBound)) return kAdjustFailed;
    // delta = N^-1 n, each sum from 0 in column order as the matrix product forms it.
    double delta[7];
    for (int i = 0; i < 7; ++i) {
      double sum = 0.0;
      for (int k = 0; k < 7; ++k) sum += Ns[i][k] / (d[i] * d[k]) * n[k];
      delta[i] = sum;
    }

    p.omega += delta[0];
    p.phi += delta[1];
    p.kappa += delta[2];
    p.m += delta[3];
    p.TX += delta[4];
    p.TY += delta[5];
    p.TZ += delta[6];
    if (!Finite(p)) return kAdjustFailed;

    const double rotation = std::sqrt(delta[0] * delta[0] + delta[1] * delta[1] + delta[2] * delta[2]);
    const double scale = std::fabs(delta[3]);
    const double translation = std::sqrt(delta[4] * delta[4] + delta[5] * delta[5] + delta[6] * delta[6]);
    // Successive passes agree: the first pass has no predecessor.
    converged = pass > 1 && std::fabs(rotation - lastRotation) < kRotationBound &&
                std::fabs(scale - lastScale) < kScaleBound &&
                std::fabs(translation - lastTranslation) < kTranslationBound;
    lastRotation = rotation;
    lastScale = scale;
    lastTranslation = translation;
  }
  // Corrections still changing after the last pass: the point set does not
  // pin the parameters down, so the values are no result.
  if (!converged) return kAdjustFailed;

  SetParameters(p);
  for (CIdPoint& q : identical_) {
    double x, y, z;
    TransformForward(q.XSource, q.YSource, q.ZSource, x, y, z);
    q.vX = x - q.XTarget;
    q.vY = y - q.YTarget;
    q.vZ = z - q.ZTarget;
  }
  return kAdjustOK;
}

}  // namespace tarvik
