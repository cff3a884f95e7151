// Matrix inversion and the seven-parameter Helmert adjustment.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geodesy/C3DTrafo.h"
#include "geodesy/CMatrix.h"

namespace tarvik {
namespace {

double MaxDeviationFromIdentity(const CMatrix& m) {
  double worst = 0.0;
  for (int i = 0; i < m.Rows(); ++i)
    for (int j = 0; j < m.Columns(); ++j) worst = std::max(worst, std::fabs(m[i][j] - (i == j ? 1.0 : 0.0)));
  return worst;
}

TEST(Matrix, FullPivotInvertsWhereTheDiagonalIsZero) {
  // Needs row and column interchanges: zero on the diagonal, badly scaled.
  CMatrix a(3, 3);
  const double values[3][3] = {{0, 2e6, 1}, {3, 0, 0.5}, {1e-3, 4, 0}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = values[i][j];
  CMatrix inverse = a;
  ASSERT_TRUE(inverse.InvertFullPivot());
  EXPECT_LT(MaxDeviationFromIdentity(a * inverse), 1e-9);
  EXPECT_LT(MaxDeviationFromIdentity(inverse * a), 1e-9);

  CMatrix noPivot = a;
  EXPECT_FALSE(noPivot.InvertNoPivot());  // zero first pivot
}

TEST(Matrix, NoPivotInvertsPositiveDefinite) {
  CMatrix a(3, 3);
  const double values[3][3] = {{4, 1, 0.5}, {1, 3, 0.2}, {0.5, 0.2, 2}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = values[i][j];
  CMatrix inverse = a;
  ASSERT_TRUE(inverse.InvertNoPivot());
  EXPECT_LT(MaxDeviationFromIdentity(a * inverse), 1e-12);
}

TEST(Matrix, SingularAndMismatchedOperands) {
  CMatrix singular(3, 3, 1.0);
  EXPECT_FALSE(singular.InvertFullPivot());
  CMatrix zero(2, 2, 0.0);
  EXPECT_FALSE(zero.InvertFullPivot());
  CMatrix rectangular(2, 3, 1.0);
  EXPECT_FALSE(rectangular.InvertFullPivot());

  const CMatrix a(2, 3, 1.0), b(2, 3, 2.0);
  EXPECT_EQ((a * b).Rows(), -1);
  EXPECT_EQ((a + CMatrix(3, 2)).Rows(), -1);
  const CMatrix product = a * b.Transposed();
  ASSERT_EQ(product.Rows(), 2);
  ASSERT_EQ(product.Columns(), 2);
  EXPECT_EQ(product[1][0], 6.0);
  EXPECT_EQ((a - b)[1][2], -1.0);
  EXPECT_EQ((b * 0.5)[0][1], 1.0);

  EXPECT_EQ(CMatrix(-1, 3).Rows(), -1);
  EXPECT_EQ(CMatrix(1 << 20, 1 << 20).Rows(), -1);  // refused, not attempted
}

// a = m·mᵀ + shift·I for a random m: symmetric, positive definite for
// shift > 0, of rank `rank` for shift = 0.
std::vector<double> SymmetricMatrix(int n, int rank, double shift, unsigned seed) {
  std::vector<double> m(static_cast<std::size_t>(n * rank));
  for (double& v : m) {
    seed = seed * 1103515245u + 12345u;
    v = static_cast<double>((seed >> 8) % 2001) / 1000.0 - 1.0;
  }
  std::vector<double> a(static_cast<std::size_t>(n * n), 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < rank; ++k) a[i * n + j] += m[i * rank + k] * m[j * rank + k];
      if (i == j) a[i * n + j] += shift;
    }
  return a;
}

TEST(Matrix, SymmetricSolveAgreesWithTheFullPivotInverse) {
  for (int n : {1, 2, 3, 7, 11, 16}) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
      std::vector<double> a = SymmetricMatrix(n, n, 1e-3, seed);
      // Rows and columns scaled over three orders of magnitude, so that
      // the largest diagonal element is not the first.
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          a[i * n + j] *= std::pow(10.0, (n - 1 - i) % 4) * std::pow(10.0, (n - 1 - j) % 4);
      std::vector<double> b(n);
      for (int i = 0; i < n; ++i) b[i] = std::sin(seed + i) * std::pow(10.0, (n - 1 - i) % 4);
      CMatrix inverse(n, n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) inverse[i][j] = a[i * n + j];
      ASSERT_TRUE(inverse.InvertFullPivot(1e-15));
      std::vector<double> x = b, factor = a;
      ASSERT_TRUE(CMatrix::SolveSymmetricPositive(factor.data(), n, x.data(), 1e-15)) << n << " " << seed;
      // The residual of the solution, relative to the terms that form it.
      for (int i = 0; i < n; ++i) {
        double viaInverse = 0.0, residual = b[i], scale = std::fabs(b[i]);
        for (int j = 0; j < n; ++j) {
          viaInverse += inverse[i][j] * b[j];
          residual -= a[i * n + j] * x[j];
          scale += std::fabs(a[i * n + j] * x[j]);
        }
        EXPECT_LE(std::fabs(residual), 1e-11 * scale) << n << " " << seed << " row " << i;
        EXPECT_NEAR(x[i], viaInverse, 1e-7 * std::fabs(viaInverse) + 1e-300) << n << " " << seed;
      }
    }
  }
}

TEST(Matrix, SymmetricSolveFindsSingularWhereFullPivotingDoes) {
  for (int n : {2, 7, 12}) {
    for (int rank = 0; rank < n; ++rank) {
      std::vector<double> a = SymmetricMatrix(n, rank, 0.0, 7u + rank);
      if (rank == 0) a[0] = 0.0;
      std::vector<double> b(n, 1.0);
      CMatrix inverse(n, n);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) inverse[i][j] = a[i * n + j];
      EXPECT_FALSE(inverse.InvertFullPivot(1e-13)) << n << " rank " << rank;
      EXPECT_FALSE(CMatrix::SolveSymmetricPositive(a.data(), n, b.data(), 1e-13)) << n << " rank " << rank;
    }
  }
  double notFinite[4] = {1, 0, 0, NAN}, b[2] = {1, 1};
  EXPECT_FALSE(CMatrix::SolveSymmetricPositive(notFinite, 2, b, 1e-13));
  double fine[4] = {2, 0, 0, 2}, nanRight[2] = {1, NAN};
  EXPECT_FALSE(CMatrix::SolveSymmetricPositive(fine, 2, nanRight, 1e-13));
  double tooLarge[17 * 17] = {}, rhs[17] = {};
  EXPECT_FALSE(CMatrix::SolveSymmetricPositive(tooLarge, 17, rhs, 1e-13));
}

TEST(HelmertRotation, MatchesTheProductOfTheAxisRotations) {
  const double o = 0.3, p = -1.1, k = 2.5;
  double R[3][3];
  HelmertRotationMatrix(o, p, k, R);
  CMatrix R1 = CMatrix::Identity(3), R2 = CMatrix::Identity(3), R3 = CMatrix::Identity(3);
  R1[1][1] = std::cos(o), R1[1][2] = std::sin(o), R1[2][1] = -std::sin(o), R1[2][2] = std::cos(o);
  R2[0][0] = std::cos(p), R2[0][2] = -std::sin(p), R2[2][0] = std::sin(p), R2[2][2] = std::cos(p);
  R3[0][0] = std::cos(k), R3[0][1] = std::sin(k), R3[1][0] = -std::sin(k), R3[1][1] = std::cos(k);
  const CMatrix product = R3 * R2 * R1;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(R[i][j], product[i][j], 1e-15) << i << j;
}

// A new object transforms as one given zero rotations and translations and
// unit scale, down to the signs of zero results, and carries the constants.
TEST(HelmertTransform, NewObjectIsTheIdentityOfZeroParameters) {
  const C3DTrafo fresh;
  C3DTrafo set;
  set.SetParameters(0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0);
  EXPECT_EQ(fresh.Pi, 2.0 * std::acos(0.0));
  EXPECT_EQ(fresh.Rho, 180.0 / (2.0 * std::acos(0.0)));
  const double points[][3] = {{4e6, 1e6, 4.6e6}, {0.0, -0.0, 0.0}, {-0.0, 0.0, -0.0}, {1e-300, -2.5, 0.0}};
  for (const auto& q : points) {
    double a[3], b[3];
    fresh.TransformForward(q[0], q[1], q[2], a[0], a[1], a[2]);
    set.TransformForward(q[0], q[1], q[2], b[0], b[1], b[2]);
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(a[c], b[c]);
      EXPECT_EQ(std::signbit(a[c]), std::signbit(b[c])) << c;
    }
    fresh.TransformInverse(q[0], q[1], q[2], a[0], a[1], a[2]);
    set.TransformInverse(q[0], q[1], q[2], b[0], b[1], b[2]);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(std::signbit(a[c]), std::signbit(b[c])) << c;
  }
}

TEST(HelmertTransform, InverseUndoesForwardForAnyRotation) {
  C3DTrafo trafo;
  for (double angle : {1e-6, 0.5, 2.0, 3.1}) {
    trafo.SetParameters(angle, -angle / 2, angle * 0.9, 612.3, -88.1, 450.7, 1.0 + 3e-5);
    double xt, yt, zt, x, y, z;
    trafo.TransformForward(4194000.5, 1162000.25, 4647000.75, xt, yt, zt);
    trafo.TransformInverse(xt, yt, zt, x, y, z);
    EXPECT_NEAR(x, 4194000.5, 1e-7);
    EXPECT_NEAR(y, 1162000.25, 1e-7);
    EXPECT_NEAR(z, 4647000.75, 1e-7);
  }
}

// Sixteen points of a 4 x 4 grid of about 10 km around 47 N 15 E on the
// sphere, as the server forms them for one request.
void AddGrid(C3DTrafo& trafo, const HelmertParameters* truth, bool targets = true) {
  C3DTrafo forward;
  if (truth != nullptr) forward.SetParameters(*truth);
  const double rho = 180.0 / M_PI;
  for (int i = 0; i < 16; ++i) {
    const double lat = (47.0 + 0.03 * (i / 4)) / rho, lon = (15.0 + 0.04 * (i % 4)) / rho;
    const double r = 6378137.0 + 400.0 + 10.0 * i;
    const double X = r * std::cos(lat) * std::cos(lon), Y = r * std::cos(lat) * std::sin(lon),
                 Z = r * std::sin(lat);
    const std::string id = std::to_string(i + 1);
    trafo.AddSourcePoint(id, X, Y, Z);
    if (!targets) continue;
    double xt = X, yt = Y, zt = Z;
    if (truth != nullptr) forward.TransformForward(X, Y, Z, xt, yt, zt);
    trafo.AddTargetPoint(id, xt, yt, zt);
  }
}

TEST(HelmertAdjustment, IdenticalPointSetsGiveTheIdentity) {
  C3DTrafo trafo;
  AddGrid(trafo, nullptr);
  ASSERT_EQ(trafo.Adjust(), 1);
  const HelmertParameters& p = trafo.Parameters();
  EXPECT_NEAR(p.omega, 0, 1e-15);
  EXPECT_NEAR(p.kappa, 0, 1e-15);
  EXPECT_NEAR(p.TX, 0, 1e-6);
  EXPECT_NEAR(p.m, 1, 1e-15);
  ASSERT_EQ(trafo.IdenticalPoints().size(), 16u);
  for (const CIdPoint& q : trafo.IdenticalPoints()) EXPECT_NEAR(q.vZ, 0, 1e-6);
}

TEST(HelmertAdjustment, RecoversKnownParameters) {
  const HelmertParameters truth{1.2e-5, -0.8e-5, 2.3e-5, -577.3, -90.1, -463.9, 1.0 - 2.4e-6};
  for (double scaleOffset : {0.0, 1e-5}) {
    HelmertParameters t = truth;
    t.m += scaleOffset;
    C3DTrafo trafo;
    AddGrid(trafo, &t);
    ASSERT_EQ(trafo.Adjust(), 1);
    const HelmertParameters& p = trafo.Parameters();
    EXPECT_NEAR(p.omega, t.omega, 1e-9);
    EXPECT_NEAR(p.phi, t.phi, 1e-9);
    EXPECT_NEAR(p.kappa, t.kappa, 1e-9);
    EXPECT_NEAR(p.m, t.m, 1e-9);
    // Without centroid reduction the translations absorb rounding of the
    // rotations times the Earth radius: sub-micrometre, not 1e-9 m.
    EXPECT_NEAR(p.TX, t.TX, 1e-6);
    EXPECT_NEAR(p.TY, t.TY, 1e-6);
    EXPECT_NEAR(p.TZ, t.TZ, 1e-6);
    EXPECT_LT(trafo.Passes(), C3DTrafo::kMaxPasses);
    for (const CIdPoint& q : trafo.IdenticalPoints()) {
      EXPECT_NEAR(q.vX, 0, 1e-6);
      EXPECT_NEAR(q.vY, 0, 1e-6);
    }
  }
}

TEST(HelmertAdjustment, ResidualsAreTransformedSourceMinusTarget) {
  const HelmertParameters truth{1e-5, 0, 0, 100, 0, 0, 1};
  C3DTrafo trafo;
  AddGrid(trafo, &truth);
  // Move one target: the adjustment spreads it, the residual keeps its sign.
  C3DTrafo disturbed;
  for (std::size_t i = 0; i < trafo.SourcePoints().size(); ++i) {
    const CPointEx& s = trafo.SourcePoints()[i];
    const CPointEx& t = trafo.TargetPoints()[i];
    disturbed.AddSourcePoint(s.Id, s.X, s.Y, s.Z);
    disturbed.AddTargetPoint(t.Id, t.X + (i == 5 ? 0.16 : 0.0), t.Y, t.Z);
  }
  ASSERT_EQ(disturbed.Adjust(), 1);
  const CIdPoint& moved = disturbed.IdenticalPoints()[5];
  EXPECT_LT(moved.vX, -0.05);
  double sum = 0;
  for (const CIdPoint& q : disturbed.IdenticalPoints()) sum += q.vX;
  EXPECT_NEAR(sum, 0.0, 1e-3);
}

TEST(HelmertAdjustment, IdentifiersMatchExactlyAndInSourceOrder) {
  C3DTrafo trafo;
  AddGrid(trafo, nullptr, false);
  trafo.AddSourcePoint("a", 0, 0, 0);
  // Targets in reverse order, one with a different case, one duplicate.
  for (int i = 16; i >= 1; --i) {
    const CPointEx& s = trafo.SourcePoints()[i - 1];
    trafo.AddTargetPoint(std::to_string(i), s.X, s.Y, s.Z);
  }
  trafo.AddTargetPoint("A", 0, 0, 0);
  trafo.AddTargetPoint("3", 1e9, 1e9, 1e9);  // later duplicate: ignored
  ASSERT_EQ(trafo.Adjust(), 1);
  const auto& points = trafo.IdenticalPoints();
  ASSERT_EQ(points.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(points[i].Id, std::to_string(i + 1));
    EXPECT_EQ(points[i].SourceIndex, static_cast<std::size_t>(i));
  }
  EXPECT_NEAR(trafo.Parameters().TX, 0.0, 1e-6);
}

// Ids of every length match as whole texts: long ones that share their
// first bytes, ones that differ only in length or by a zero byte, the
// empty id; each source point takes the first target of its id.
TEST(HelmertAdjustment, IdentifiersOfAnyLengthMatchAsWholeTexts) {
  const std::string ids[] = {
      "",         std::string("7\0", 2), "7", "1234567", "12345678", "12345679", "123456789", "1234567 ",
      "ABCDEFGH", "ABCDEFGHI",           "x", "xx",      "xxx",      "PT-0004",  "PT-00040",  "PT-000400"};
  C3DTrafo reference;
  AddGrid(reference, nullptr, false);
  C3DTrafo trafo;
  for (int i = 0; i < 16; ++i) {
    const CPointEx& s = reference.SourcePoints()[i];
    trafo.AddSourcePoint(ids[i], s.X, s.Y, s.Z);
  }
  // Targets in reverse order, after a decoy for every id that a prefix or
  // a length alone would confuse with it.
  trafo.AddTargetPoint("123456", 1e9, 0, 0);
  trafo.AddTargetPoint("1234567890", 1e9, 0, 0);
  trafo.AddTargetPoint(std::string("7\0\0", 3), 1e9, 0, 0);
  trafo.AddTargetPoint("PT-0004000", 1e9, 0, 0);
  for (int i = 15; i >= 0; --i) {
    const CPointEx& s = reference.SourcePoints()[i];
    trafo.AddTargetPoint(ids[i], s.X + 10.0, s.Y, s.Z);
  }
  trafo.AddTargetPoint("ABCDEFGHI", 1e9, 1e9, 1e9);  // later duplicate: ignored
  ASSERT_EQ(trafo.Adjust(), 1);
  const auto& points = trafo.IdenticalPoints();
  ASSERT_EQ(points.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(points[i].Id, ids[i]);
    EXPECT_EQ(points[i].SourceIndex, static_cast<std::size_t>(i));
    EXPECT_EQ(points[i].XTarget, reference.SourcePoints()[i].X + 10.0) << i;
  }
  EXPECT_NEAR(trafo.Parameters().TX, 10.0, 1e-6);
}

// Points shifted by 100 m in X, identifiers "0", "1", ...
C3DTrafo ShiftedPairs(int count, double dx, double dy, double dz) {
  C3DTrafo trafo;
  for (int i = 0; i < count; ++i) {
    const double X = 4194000 + dx * i, Y = 1162000 + dy * i, Z = 4647000 + dz * i;
    trafo.AddSourcePoint(std::to_string(i), X, Y, Z);
    trafo.AddTargetPoint(std::to_string(i), X + 100, Y, Z);
  }
  return trafo;
}

TEST(HelmertAdjustment, UndeterminedPointSetsFailAndKeepParameters) {
  C3DTrafo noTargets, noPartners, notFinite;
  noTargets.AddSourcePoint("1", 1, 2, 3);
  noPartners.AddSourcePoint("1", 4e6, 1e6, 4.6e6);
  noPartners.AddTargetPoint("2", 4e6, 1e6, 4.6e6);
  AddGrid(notFinite, nullptr);
  notFinite.AddSourcePoint("nan", NAN, 0, 0);
  notFinite.AddTargetPoint("nan", 0, 0, 0);
  struct Case {
    const char* what;
    C3DTrafo trafo;
  } cases[] = {{"empty", C3DTrafo()},
               {"no targets", noTargets},
               {"no identifier in common", noPartners},
               {"two points: six equations", ShiftedPairs(2, 1000, 1000, -1000)},
               {"coincident", ShiftedPairs(16, 0, 0, 0)},
               {"collinear: rotation about the line free", ShiftedPairs(16, 100, 30, -90)},
               {"not finite", notFinite}};
  const HelmertParameters before{0.1, 0.2, 0.3, 1, 2, 3, 1.5};
  for (Case& c : cases) {
    c.trafo.SetParameters(before);
    EXPECT_EQ(c.trafo.Adjust(), 0) << c.what;
    EXPECT_EQ(c.trafo.Parameters().omega, before.omega) << c.what;
    EXPECT_EQ(c.trafo.Parameters().m, before.m) << c.what;
  }
}

}  // namespace
}  // namespace tarvik
