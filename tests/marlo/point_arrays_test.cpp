// TransformPoints_BLH_in_BLH_out against TransformPoint_BLH_in_BLH_out, bit
// for bit: every point's code and outputs, with points outside every area,
// out of range, not finite or too high in the middle of a batch, with the
// residual interpolation on and off, before InitDB, and for every count
// around the library's pass width.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "MarloGenerator.h"
#include "marlo/MarloLibrary.h"
#include "marlo/MarloTestSupport.h"

using namespace marlotest;

namespace {

using ArrayFn = int (*)(int, const double*, const double*, const double*, double*, double*, double*, int*);

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSentinel = -77.5;  // what an output holds until written

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

struct Batch {
  std::vector<double> L, B, h;
  void Add(double l, double b, double height) {
    L.push_back(l);
    B.push_back(b);
    h.push_back(height);
  }
  int Count() const { return static_cast<int>(L.size()); }
};

class MarloPointArrays : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder;
    demoPath_ = folder_->Write("demo.mdb", marlogen::GenerateDatabase({}));
    lib_ = new MarloLibrary((ExecutableFolder() / "MarloDLL.so").string());
  }
  static void TearDownTestSuite() {
    delete lib_;
    delete folder_;
  }
  void SetUp() override {
    ASSERT_TRUE(lib_->Loaded());
    points_ = lib_->Get<ArrayFn>("TransformPoints_BLH_in_BLH_out");
    ASSERT_NE(points_, nullptr);
  }

  // Both ways over the first count points; returns the array call's result.
  int ExpectSameAsSingleCalls(const Batch& in, int count, const char* what) {
    std::vector<double> L1(count, kSentinel), B1 = L1, h1 = L1, L2 = L1, B2 = L1, h2 = L1;
    std::vector<int> single(count), batch(count, 12345);
    int first = 1;
    for (int i = 0; i < count; ++i) {
      single[i] = lib_->BLH_BLH(in.L[i], in.B[i], in.h[i], &L1[i], &B1[i], &h1[i]);
      if (first == 1 && single[i] != 1) first = single[i];
    }
    const int rc =
        points_(count, in.L.data(), in.B.data(), in.h.data(), L2.data(), B2.data(), h2.data(), batch.data());
    EXPECT_EQ(rc, first) << what;
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(batch[i], single[i]) << what << " point " << i;
      EXPECT_EQ(Bits(L1[i]), Bits(L2[i])) << what << " point " << i;
      EXPECT_EQ(Bits(B1[i]), Bits(B2[i])) << what << " point " << i;
      EXPECT_EQ(Bits(h1[i]), Bits(h2[i])) << what << " point " << i;
    }
    return rc;
  }

  static TempFolder* folder_;
  static MarloLibrary* lib_;
  static std::string demoPath_;
  ArrayFn points_ = nullptr;
};
TempFolder* MarloPointArrays::folder_ = nullptr;
MarloLibrary* MarloPointArrays::lib_ = nullptr;
std::string MarloPointArrays::demoPath_;

// Positions over the demo region and beyond its border, heights from below
// sea level to far above it.
Batch RandomBatch(int count, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> lon(12.0, 18.5), lat(46.0, 49.5), h(-200.0, 5000.0);
  Batch b;
  for (int i = 0; i < count; ++i) b.Add(lon(rng), lat(rng), h(rng));
  return b;
}

}  // namespace

TEST_F(MarloPointArrays, RandomPositionsWithAndWithoutInterpolation) {
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  const Batch batch = RandomBatch(1500, 21);
  ExpectSameAsSingleCalls(batch, batch.Count(), "plain");
  // Inverse distance weights over the area's points, then over related areas too.
  lib_->SetInterpolationType(1, 2, 0, 0.0, 0.0);
  ExpectSameAsSingleCalls(batch, batch.Count(), "area points");
  lib_->SetInterpolationType(1, 1, 1, 0.0, 0.0);
  ExpectSameAsSingleCalls(batch, batch.Count(), "related areas");
  lib_->SetInterpolationType(1, 3, 2, 30.0, 5000.0);
  ExpectSameAsSingleCalls(batch, batch.Count(), "radius");
  lib_->SetInterpolationType(0, 2, 0, 0.0, 0.0);
  lib_->ExitDB();
}

TEST_F(MarloPointArrays, FailingPointsInTheMiddleKeepTheirOwnCodes) {
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  lib_->SetInterpolationType(1, 2, 0, 0.0, 0.0);
  Batch b;
  b.Add(14.5, 47.5, 300.0);
  b.Add(10.0, 47.5, 0.0);        // outside every area: -1000
  b.Add(14.6, 47.6, 310.0);      //
  b.Add(14.5, 47.5, kNaN);       // height not finite: -1001
  b.Add(14.5, 47.7, 2500000.0);  // too high to convert back: -1001
  b.Add(kNaN, 47.5, 0.0);        // no position: -1000
  b.Add(14.0, 95.0, 0.0);        // beyond the pole: -1000 (the search comes first)
  b.Add(14.5, 47.7, 1000000.0);  // high but convertible
  b.Add(15.1, 47.2, -50.0);
  EXPECT_EQ(ExpectSameAsSingleCalls(b, b.Count(), "mixed"), -1000);
  // The first failure decides the result, whatever its code.
  Batch c;
  c.Add(14.5, 47.5, 300.0);
  c.Add(14.5, 47.5, kNaN);
  c.Add(10.0, 47.5, 0.0);
  EXPECT_EQ(ExpectSameAsSingleCalls(c, c.Count(), "first failure"), -1001);
  lib_->SetInterpolationType(0, 2, 0, 0.0, 0.0);
  lib_->ExitDB();

  // Out of range inside an area about the 180th meridian: -1001 between successes.
  const std::string path = folder_->Write(
      "dateline.mdb", GkSquareDatabase(180.0, -300000, 4900000, 600000, "1\n0\n0\n0\n0\n0\n0\n0\n"));
  ASSERT_EQ(lib_->InitDB(path.c_str()), 1);
  Batch d;
  d.Add(179.5, 47.0, 100.0);
  d.Add(180.5, 47.0, 100.0);
  d.Add(180.0, 47.0, 100.0);
  EXPECT_EQ(ExpectSameAsSingleCalls(d, d.Count(), "dateline"), -1001);
  lib_->ExitDB();
}

TEST_F(MarloPointArrays, CountsInPlaceArraysAndNoDatabase) {
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  const Batch batch = RandomBatch(70, 22);
  // Around the library's passes of 16 points and chunks of 64.
  for (int count : {0, 1, 2, 7, 15, 16, 17, 31, 33, 63, 64, 65, 70})
    ExpectSameAsSingleCalls(batch, count, "count");
  EXPECT_EQ(points_(-1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);

  // Without a results array, and with the outputs written over the inputs.
  Batch inPlace = batch;
  std::vector<double> L(70, kSentinel), B = L, h = L;
  std::vector<int> codes(70);
  for (int i = 0; i < 70; ++i)
    codes[i] = lib_->BLH_BLH(batch.L[i], batch.B[i], batch.h[i], &L[i], &B[i], &h[i]);
  points_(70, inPlace.L.data(), inPlace.B.data(), inPlace.h.data(), inPlace.L.data(), inPlace.B.data(),
          inPlace.h.data(), nullptr);
  for (int i = 0; i < 70; ++i) {
    const bool ok = codes[i] == 1;
    EXPECT_EQ(Bits(inPlace.L[i]), Bits(ok ? L[i] : batch.L[i])) << i;
    EXPECT_EQ(Bits(inPlace.B[i]), Bits(ok ? B[i] : batch.B[i])) << i;
    EXPECT_EQ(Bits(inPlace.h[i]), Bits(ok ? h[i] : batch.h[i])) << i;
  }

  // Before a database is loaded (or after a failed load) every point is -1007.
  EXPECT_EQ(lib_->InitDB((folder_->Path() / "missing.mdb").c_str()), -1002);
  EXPECT_EQ(ExpectSameAsSingleCalls(batch, 20, "no database"), -1007);
}
