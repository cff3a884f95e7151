#include "geodesy/C3DTrafo.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "geodesy/CMatrix.h"

namespace tarvik {

namespace {

// 2·acos(0), the double nearest to pi.
constexpr double kPi = 3.14159265358979323846;
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

// The three partial derivatives dR/domega = R3 R2 dR1, dR/dphi = R3 dR2 R1
// and dR/dkappa = dR3 R2 R1, written out. Each entry is the sum of products
// that the full matrix products would form, in their order, less the
// products with a zero factor of the axis rotations: adding those changes
// no entry except, where an entry is zero, the sign of that zero, and a
// zero entry adds nothing to the normal equations whatever its sign.
void RotationDerivatives(const RotationAngles& a, double dO[3][3], double dP[3][3], double dK[3][3]) {
  const double co = a.co, so = a.so, cp = a.cp, sp = a.sp, ck = a.ck, sk = a.sk;
  // Rows of R3 R2, R3 dR2 and dR3 R2 (their zero entries left out).
  const double r0[3] = {ck * cp, sk, ck * -sp}, r1[3] = {-sk * cp, ck, -sk * -sp}, r2[3] = {sp, 0.0, cp};
  const double p0[2] = {ck * -sp, ck * -cp}, p1[2] = {-sk * -sp, -sk * -cp}, p2[2] = {cp, -sp};
  const double k0[3] = {-sk * cp, ck, -sk * -sp}, k1[3] = {-ck * cp, -sk, -ck * -sp};
  const double* rows[3] = {r0, r1, r2};
  for (int i = 0; i < 3; ++i) {
    const double* r = rows[i];
    dO[i][0] = 0.0;
    dO[i][1] = r[1] * -so + r[2] * -co;
    dO[i][2] = r[1] * co + r[2] * -so;
  }
  const double* pRows[3] = {p0, p1, p2};
  for (int i = 0; i < 3; ++i) {
    dP[i][0] = pRows[i][0];
    dP[i][1] = pRows[i][1] * -so;
    dP[i][2] = pRows[i][1] * co;
  }
  const double* kRows[2] = {k0, k1};
  for (int i = 0; i < 2; ++i) {
    const double* k = kRows[i];
    dK[i][0] = k[0];
    dK[i][1] = k[1] * co + k[2] * -so;
    dK[i][2] = k[1] * so + k[2] * co;
  }
  dK[2][0] = dK[2][1] = dK[2][2] = 0.0;
}

// Two doubles side by side; every operation works on each lane on its own,
// exactly as two scalar operations would.
typedef double DoublePair __attribute__((vector_size(16)));

// The sums of one pass's normal equations, each one chain of additions in
// the order of the observations; two independent sums share a pair.
struct NormalSums {
  // a_i·a_j for i <= j < 4: (00, 01), (02, 03), (11, 12), (13, 22), (23, 33).
  DoublePair aa[5] = {};
  DoublePair cross[3][2] = {};  // (a_0, a_1), (a_2, a_3) over the rows of coordinate c
  DoublePair al[2] = {};        // (a_0·l, a_1·l), (a_2·l, a_3·l)
  double l[3] = {};             // l over the rows of coordinate c
  double rows[3] = {};          // 1 for every row of coordinate c

  // One observation of coordinate c: the design entries (omega, phi) and
  // (kappa, m), and the observation l.
  void Add(int c, DoublePair a01, DoublePair a23, double obs) {
    const DoublePair a12 = {a01[1], a23[0]};
    aa[0] += a01[0] * a01;
    aa[1] += a01[0] * a23;
    aa[2] += a01[1] * a12;
    aa[3] += a12 * DoublePair{a23[1], a23[0]};
    aa[4] += a23[1] * a23;
    cross[c][0] += a01;
    cross[c][1] += a23;
    al[0] += a01 * obs;
    al[1] += a23 * obs;
    l[c] += obs;
    rows[c] += 1.0;
  }

  // The symmetric normal matrix and the right-hand side.
  void Fill(double N[7][7], double n[7]) const {
    const double products[10] = {aa[0][0], aa[0][1], aa[1][0], aa[1][1], aa[2][0],
                                 aa[2][1], aa[3][0], aa[3][1], aa[4][0], aa[4][1]};
    int k = 0;
    for (int i = 0; i < 4; ++i)
      for (int j = i; j < 4; ++j) N[i][j] = N[j][i] = products[k++];
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < 4; ++i) N[i][4 + c] = N[4 + c][i] = cross[c][i / 2][i % 2];
      for (int c2 = 0; c2 < 3; ++c2) N[4 + c][4 + c2] = c == c2 ? rows[c] : 0.0;
      n[4 + c] = l[c];
    }
    for (int i = 0; i < 4; ++i) n[i] = al[i / 2][i % 2];
  }
};

// An id of up to seven bytes as one number: its bytes and its length, so
// that two such ids are equal exactly when their numbers are. Longer ids
// share one number and are compared as text.
constexpr std::uint64_t kLongId = ~std::uint64_t{0};
std::uint64_t IdKey(const std::string& id) {
  if (id.size() > 7) return kLongId;
  std::uint64_t key = id.size();
  for (std::size_t k = 0; k < id.size(); ++k)
    key |= std::uint64_t{static_cast<unsigned char>(id[k])} << (8 * (k + 1));
  return key;
}

bool Finite(const HelmertParameters& p) {
  return std::isfinite(p.omega) && std::isfinite(p.phi) && std::isfinite(p.kappa) && std::isfinite(p.TX) &&
         std::isfinite(p.TY) && std::isfinite(p.TZ) && std::isfinite(p.m);
}

}  // namespace

void HelmertRotationMatrix(double omega, double phi, double kappa, double R[3][3]) {
  RotationMatrix(AnglesOf(omega, phi, kappa), R);
}

// The start parameters have no rotation: their matrix is formed from the
// sines and cosines of zero as they are (a request makes three of these
// objects, so the library's functions are not asked for them).
C3DTrafo::C3DTrafo() : Pi(kPi), Rho(180.0 / kPi) {
  RotationMatrix(RotationAngles{1.0, 0.0, 1.0, 0.0, 1.0, 0.0}, R_);
}

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
  // Each source point with the first target point of the same id; the
  // target ids as numbers, a grid's worth of them without allocating.
  std::array<std::uint64_t, kTypicalPoints> fewKeys;
  std::vector<std::uint64_t> manyKeys;
  if (target_.size() > fewKeys.size()) manyKeys.resize(target_.size());
  std::uint64_t* targetKeys = target_.size() > fewKeys.size() ? manyKeys.data() : fewKeys.data();
  for (std::size_t j = 0; j < target_.size(); ++j) targetKeys[j] = IdKey(target_[j].Id);
  for (std::size_t i = 0; i < source_.size(); ++i) {
    const CPointEx& s = source_[i];
    const std::uint64_t key = IdKey(s.Id);
    for (std::size_t j = 0; j < target_.size(); ++j) {
      if (targetKeys[j] != key || (key == kLongId && target_[j].Id != s.Id)) continue;
      const CPointEx& t = target_[j];
      identical_.push_back(CIdPoint{s.Id, i, s.X, s.Y, s.Z, t.X, t.Y, t.Z, 0.0, 0.0, 0.0});
      break;
    }
  }

  // The estimate lives in `p` and replaces the parameters only on success.
  HelmertParameters p;  // start values: no rotation, no translation, m = 1
  double lastRotation = 0.0, lastScale = 0.0, lastTranslation = 0.0;
  bool converged = false;
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
    // Row c of dR/domega beside row c of dR/dphi, and of dR/dkappa beside
    // R, so that one pair of products gives two design entries; each lane
    // forms (m0·x + m1·y) + m2·z as Multiply does.
    DoublePair rotationRows[3][3], scaleRows[3][3];
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 3; ++k) {
        rotationRows[c][k] = DoublePair{dO[c][k], dP[c][k]};
        scaleRows[c][k] = DoublePair{dK[c][k], R[c][k]};
      }
    // m for the kappa entry; R·X enters the design row as it is (times 1).
    const DoublePair scaled = {p.m, 1.0};
    NormalSums sums;
    const double T[3] = {p.TX, p.TY, p.TZ};
    for (const CIdPoint& q : identical_) {
      const double x = q.XSource, y = q.YSource, z = q.ZSource;
      const double target[3] = {q.XTarget, q.YTarget, q.ZTarget};
      for (int c = 0; c < 3; ++c) {
        const DoublePair* o = rotationRows[c];
        const DoublePair* s = scaleRows[c];
        const DoublePair rotations = (o[0] * x + o[1] * y) + o[2] * z;  // (dR/domega·X, dR/dphi·X)
        const DoublePair rest = (s[0] * x + s[1] * y) + s[2] * z;       // (dR/dkappa·X, R·X)
        const double r = rest[1];
        sums.Add(c, p.m * rotations, scaled * rest, target[c] - (p.m * r + T[c]));
      }
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
    // of its places. Ns·(D·delta) = D^-1·n.
    double Ns[7 * 7], delta[7];
    for (int i = 0; i < 7; ++i) {
      for (int j = i; j < 7; ++j) Ns[i * 7 + j] = Ns[j * 7 + i] = N[i][j] / (d[i] * d[j]);
      delta[i] = n[i] / d[i];
    }
    if (!CMatrix::SolveSymmetricPositive(Ns, 7, delta, kSingularBound)) return kAdjustFailed;
    for (int i = 0; i < 7; ++i) delta[i] /= d[i];

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
