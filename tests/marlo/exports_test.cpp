// The loaded library as the server and other callers see it: lifecycle
// codes, the transformation against an independent Helmert transformation,
// agreement of the twenty exports, and separate state per loaded copy.

#include <gtest/gtest.h>
#include <proj.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "FifoFeeder.h"
#include "MarloGenerator.h"
#include "marlo/MarloLibrary.h"
#include "marlo/MarloTestSupport.h"

using namespace marlotest;

namespace {

std::string LibraryPath() { return (ExecutableFolder() / "MarloDLL.so").string(); }

// Sample positions spread over the demo region, away from its border.
std::vector<std::pair<double, double>> SamplePositions() {
  std::vector<std::pair<double, double>> out;  // (L, B)
  for (int i = 0; i < 7; ++i)
    for (int j = 0; j < 6; ++j)
      out.push_back({13.1 + 3.6 * i / 6.0 + 0.013 * j, 46.9 + 1.6 * j / 5.0 + 0.007 * i});
  return out;
}

class MarloExports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder;
    using Mode = marlogen::Options::Mode;
    marlogen::Options demo, uniform, zero;
    uniform.mode = Mode::Uniform;
    zero.mode = Mode::Zero;
    demoPath_ = folder_->Write("demo.mdb", marlogen::GenerateDatabase(demo));
    uniformPath_ = folder_->Write("uniform.mdb", marlogen::GenerateDatabase(uniform));
    zeroPath_ = folder_->Write("zero.mdb", marlogen::GenerateDatabase(zero));
    lib_ = new MarloLibrary(LibraryPath());
  }
  static void TearDownTestSuite() {
    delete lib_;
    delete folder_;
  }
  void SetUp() override { ASSERT_TRUE(lib_->Loaded()) << LibraryPath(); }

  static TempFolder* folder_;
  static MarloLibrary* lib_;
  static std::string demoPath_, uniformPath_, zeroPath_;
};
TempFolder* MarloExports::folder_ = nullptr;
MarloLibrary* MarloExports::lib_ = nullptr;
std::string MarloExports::demoPath_, MarloExports::uniformPath_, MarloExports::zeroPath_;

TEST_F(MarloExports, LifecycleCodes) {
  double L = 0, B = 0, h = 0;
  // A missing file: -1002 and not loaded, even after an earlier success.
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  EXPECT_EQ(lib_->BLH_BLH(14.0, 47.5, 500.0, &L, &B, &h), 1);
  EXPECT_EQ(lib_->InitDB((folder_->Path() / "missing.mdb").c_str()), -1002);
  L = B = h = 123.0;
  EXPECT_EQ(lib_->BLH_BLH(14.0, 47.5, 500.0, &L, &B, &h), -1007);
  EXPECT_EQ(L, 123.0);                                      // nothing written on failure
  EXPECT_EQ(lib_->InitDB(folder_->Path().c_str()), -1002);  // a folder is no file

  // A file cut inside the area block leaves the library not loaded.
  std::string text = marlogen::GenerateDatabase({});
  text.resize(text.find("; ---- related") - 200);
  const std::string cut = folder_->Write("cut.mdb", text);
  EXPECT_EQ(lib_->InitDB(cut.c_str()), -1003);
  EXPECT_EQ(lib_->BLH_BLH(14.0, 47.5, 500.0, &L, &B, &h), -1007);

  // Outside every area, then out of range: the area search comes first.
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  EXPECT_EQ(lib_->BLH_BLH(10.0, 47.5, 0.0, &L, &B, &h), -1000);
  EXPECT_EQ(lib_->BLH_BLH(14.0, 95.0, 0.0, &L, &B, &h), -1000);
  EXPECT_EQ(lib_->TestFunc(), 1);
  // After ExitDB the tables are empty: no area, and no crash.
  lib_->ExitDB();
  EXPECT_EQ(lib_->BLH_BLH(14.0, 47.5, 500.0, &L, &B, &h), -1000);
}

TEST_F(MarloExports, ZeroParametersReturnTheInput) {
  ASSERT_EQ(lib_->InitDB(zeroPath_.c_str()), 1);
  for (auto [L, B] : SamplePositions()) {
    double Lo = 0, Bo = 0, ho = 0;
    ASSERT_EQ(lib_->BLH_BLH(L, B, 812.5, &Lo, &Bo, &ho), 1) << L << " " << B;
    EXPECT_NEAR(Lo, L, 1e-10);
    EXPECT_NEAR(Bo, B, 1e-10);
    EXPECT_NEAR(ho, 812.5, 1e-5);
  }
  lib_->ExitDB();
}

// The published set applied as a rigorous 3D Helmert transformation by PROJ.
TEST_F(MarloExports, UniformDatabaseMatchesRigorousHelmert) {
  ASSERT_EQ(lib_->InitDB(uniformPath_.c_str()), 1);
  const marlogen::Helmert set = marlogen::PublishedEtrs89ToMgi();
  char pipeline[512];
  std::snprintf(pipeline, sizeof pipeline,
                "+proj=pipeline +step +proj=cart +ellps=GRS80 +step +proj=helmert +x=%.4f "
                "+y=%.4f +z=%.4f +rx=%.4f +ry=%.4f +rz=%.4f +s=%.5f "
                "+convention=coordinate_frame +step +inv +proj=cart +ellps=bessel",
                set.tx, set.ty, set.tz, set.rx, set.ry, set.rz, set.ppm);
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* helmert = proj_create(ctx, pipeline);
  ASSERT_NE(helmert, nullptr);
  double worstHorizontal = 0.0, worstHeight = 0.0;
  for (auto [L, B] : SamplePositions())
    for (double h : {0.0, 1500.0}) {
      double Lo = 0, Bo = 0, ho = 0;
      ASSERT_EQ(lib_->BLH_BLH(L, B, h, &Lo, &Bo, &ho), 1);
      const PJ_COORD ref = proj_trans(helmert, PJ_FWD, proj_coord(proj_torad(L), proj_torad(B), h, 0));
      const double dB = (Bo - proj_todeg(ref.lpzt.phi)) * 111132.0;
      const double dL = (Lo - proj_todeg(ref.lpzt.lam)) * 111320.0 * std::cos(B * M_PI / 180);
      worstHorizontal = std::max(worstHorizontal, std::hypot(dB, dL));
      worstHeight = std::max(worstHeight, std::fabs(ho - ref.lpzt.z));
    }
  proj_destroy(helmert);
  proj_context_destroy(ctx);
  // With the bulk translation in the exact geocentric shift, the differential
  // formulas stay within a millimetre of the rigorous transformation.
  EXPECT_LT(worstHorizontal, 0.005);
  EXPECT_LT(worstHeight, 0.005);
  RecordProperty("worst_horizontal_m", std::to_string(worstHorizontal));
  RecordProperty("worst_height_m", std::to_string(worstHeight));
  std::printf("uniform set vs rigorous Helmert: horizontal %.4f m, height %.4f m\n", worstHorizontal,
              worstHeight);
  lib_->ExitDB();
}

// The demo database describes one continuous transformation: with the
// interpolation the demo configurations switch on, it meets that
// transformation everywhere to a fraction of a millimetre, so it cannot jump
// at the border of two areas (it jumped by 79 mm between two points 7.5 m
// apart at 47.8 N, 15.0861 E when each area carried only its own set).
TEST_F(MarloExports, DemoDatabaseFollowsOneContinuousTransformation) {
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  auto missed = [&](double L, double B, double h, double& horizontal, double& height) {
    double Lo = 0, Bo = 0, ho = 0, tB = 0, tL = 0, tH = 0;
    if (lib_->BLH_BLH(L, B, h, &Lo, &Bo, &ho) != 1) return false;
    marlogen::DemoTransformation(B, L, h, tB, tL, tH);
    horizontal = std::hypot((Bo - tB) * 111132.0, (Lo - tL) * 111320.0 * std::cos(B * M_PI / 180));
    height = std::fabs(ho - tH);
    return true;
  };
  std::mt19937 random(5);
  std::uniform_real_distribution<double> lat(46.85, 48.55), lon(13.05, 16.75), up(0.0, 2500.0);
  lib_->SetInterpolationType(1, 2, 0, 0.0, 0.0);
  double worst = 0.0, worstHeight = 0.0;
  for (int i = 0; i < 3000; ++i) {
    double horizontal = 0, height = 0;
    const double B = lat(random), L = lon(random);
    ASSERT_TRUE(missed(L, B, up(random), horizontal, height)) << B << " " << L;
    worst = std::max(worst, horizontal);
    worstHeight = std::max(worstHeight, height);
  }
  // Across the border of the two points, in steps of 7.5 m.
  for (double L = 15.080; L < 15.092; L += 0.0001) {
    double horizontal = 0, height = 0;
    ASSERT_TRUE(missed(L, 47.8, 450.0, horizontal, height));
    worst = std::max(worst, horizontal);
  }
  std::printf("demo database against its transformation: horizontal %.3f mm, height %.3f mm\n", worst * 1000,
              worstHeight * 1000);
  EXPECT_LT(worst, 0.0005);
  EXPECT_LT(worstHeight, 0.002);

  // Without the interpolation the sets alone miss it by centimetres.
  lib_->SetInterpolationType(0, 2, 0, 0.0, 0.0);
  double horizontal = 0, height = 0;
  ASSERT_TRUE(missed(15.0861, 47.8, 450.0, horizontal, height));
  EXPECT_GT(horizontal, 0.01);
  lib_->ExitDB();
}

// Every input and output type leads to the same transformed point as the
// geographic export does for the converted input.
TEST_F(MarloExports, TwentyExportsAgreeThroughTheProjections) {
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  void* pel = ::dlopen((ExecutableFolder() / "PelProjection.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(pel, nullptr);
  auto init = reinterpret_cast<void (*)(double, int, double, double, double, double, double, double, double,
                                        int, int, int)>(::dlsym(pel, "InitializeDLL"));
  using Conv = void (*)(double, double, double*, double*);
  auto gk = reinterpret_cast<Conv>(::dlsym(pel, "BL_to_EN_GK"));
  auto utm = reinterpret_cast<Conv>(::dlsym(pel, "BL_to_EN_UTM_Raw"));
  auto eov = reinterpret_cast<Conv>(::dlsym(pel, "BL_to_EN_EOV"));
  auto toXyz = reinterpret_cast<void (*)(double, double, double, double*, double*, double*)>(
      ::dlsym(pel, "BLH_to_XYZ"));
  auto on = [&](double a, double b, double l0) { init(l0, 0, 0, a, b, 0, 0, 0, 0, 0, 0, 0); };
  const double sa = marlogen::kGrs80A, sb = marlogen::kGrs80B;
  const double ta = marlogen::kBesselA, tb = marlogen::kBesselB;
  const double l0In = 15.0, l0Out = 14.0;  // deliberately not the database meridian

  const char* ins[] = {"BLH", "XYZ", "GKH", "UTMH", "EOVH"};
  const char* outs[] = {"BLH", "GKH", "UTMH", "EOVH"};
  int checked = 0;
  for (auto [L, B] : SamplePositions()) {
    const double h = 640.0;
    double Lr = 0, Br = 0, hr = 0;
    ASSERT_EQ(lib_->BLH_BLH(L, B, h, &Lr, &Br, &hr), 1);
    // Expected outputs from the reference result.
    double expected[4][3] = {{Lr, Br, hr}, {0, 0, hr}, {0, 0, hr}, {0, 0, hr}};
    on(ta, tb, l0Out);
    gk(Br, Lr, &expected[1][0], &expected[1][1]);
    on(ta, tb, l0Out);
    utm(Br, Lr, &expected[2][0], &expected[2][1]);
    on(ta, tb, 0);
    eov(Br, Lr, &expected[3][0], &expected[3][1]);
    // Inputs from the geographic point.
    double in[5][3] = {{L, B, h}, {0, 0, 0}, {0, 0, h}, {0, 0, h}, {0, 0, h}};
    on(sa, sb, 0);
    toXyz(B, L, h, &in[1][0], &in[1][1], &in[1][2]);
    on(sa, sb, l0In);
    gk(B, L, &in[2][0], &in[2][1]);
    on(sa, sb, l0In);
    utm(B, L, &in[3][0], &in[3][1]);
    on(sa, sb, 0);
    eov(B, L, &in[4][0], &in[4][1]);

    for (int i = 0; i < 5; ++i)
      for (int o = 0; o < 4; ++o) {
        const std::string name = std::string("TransformPoint_") + ins[i] + "_in_" + outs[o] + "_out";
        double r[3] = {0, 0, 0};
        int rc = 0;
        const bool planeIn = i >= 2, planeOut = o >= 1;
        if (!planeIn && !planeOut)
          rc =
              lib_->Get<MarloLibrary::GeoIn>(name.c_str())(in[i][0], in[i][1], in[i][2], &r[0], &r[1], &r[2]);
        else if (!planeIn)
          rc = lib_->Get<MarloLibrary::GeoInPlaneOut>(name.c_str())(in[i][0], in[i][1], in[i][2], l0Out,
                                                                    &r[0], &r[1], &r[2]);
        else if (!planeOut)
          rc = lib_->Get<MarloLibrary::GeoInPlaneOut>(name.c_str())(l0In, in[i][0], in[i][1], in[i][2], &r[0],
                                                                    &r[1], &r[2]);
        else
          rc = lib_->Get<MarloLibrary::PlaneInPlaneOut>(name.c_str())(l0In, in[i][0], in[i][1], in[i][2],
                                                                      l0Out, &r[0], &r[1], &r[2]);
        ASSERT_EQ(rc, 1) << name;
        const double angular = o == 0 ? 1e-8 : 2e-3;  // degrees or metres
        EXPECT_NEAR(r[0], expected[o][0], angular) << name;
        EXPECT_NEAR(r[1], expected[o][1], angular) << name;
        EXPECT_NEAR(r[2], expected[o][2], 2e-3) << name;
        ++checked;
      }
  }
  EXPECT_EQ(checked, 20 * static_cast<int>(SamplePositions().size()));

  // The EOV input ignores its meridian.
  double a[3], b[3];
  auto eovIn = lib_->Get<MarloLibrary::GeoInPlaneOut>("TransformPoint_EOVH_in_BLH_out");
  on(sa, sb, 0);
  double e = 0, n = 0;
  eov(47.6, 15.2, &e, &n);
  ASSERT_EQ(eovIn(0.0, e, n, 300.0, &a[0], &a[1], &a[2]), 1);
  ASSERT_EQ(eovIn(77.0, e, n, 300.0, &b[0], &b[1], &b[2]), 1);
  EXPECT_EQ(a[0], b[0]);
  EXPECT_EQ(a[1], b[1]);
  ::dlclose(pel);
  lib_->ExitDB();
}

// Transformations share no mutable state: threads running at once get the
// results of a single thread.
TEST_F(MarloExports, ConcurrentTransformationsAgree) {
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  lib_->SetInterpolationType(1, 2, 1, 0.0, 0.0);
  const auto positions = SamplePositions();
  std::vector<std::array<double, 3>> expected(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i)
    ASSERT_EQ(lib_->BLH_BLH(positions[i].first, positions[i].second, 100.0, &expected[i][0], &expected[i][1],
                            &expected[i][2]),
              1);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round)
        for (std::size_t i = 0; i < positions.size(); ++i) {
          double r[3];
          const int rc = lib_->BLH_BLH(positions[i].first, positions[i].second, 100.0, &r[0], &r[1], &r[2]);
          if (rc != 1 || r[0] != expected[i][0] || r[1] != expected[i][1] || r[2] != expected[i][2])
            ++mismatches[t];
        }
    });
  for (std::thread& t : threads) t.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
  lib_->ExitDB();
}

// The load refuses what it cannot read as a file, and a refused load leaves
// nothing loaded.
TEST_F(MarloExports, PipesAndDevicesAreNotLoaded) {
  double L = 0, B = 0, h = 0;
  testsupport::FifoFeeder pipe(folder_->Path() / "demo.fifo", marlogen::GenerateDatabase({}));
  ASSERT_TRUE(pipe.Created());
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  EXPECT_EQ(lib_->InitDB(pipe.Path().c_str()), -1002);
  EXPECT_EQ(lib_->BLH_BLH(14.0, 47.5, 500.0, &L, &B, &h), -1007);
  EXPECT_EQ(lib_->InitDB("/dev/zero"), -1002);
  // A database with an unknown projection type would find an area for any
  // point of the earth; it does not load.
  std::string text = marlogen::GenerateDatabase({});
  const std::size_t typeLine = text.find("\n2\n");
  ASSERT_NE(typeLine, std::string::npos);
  text.replace(typeLine, 3, "\n7\n");
  EXPECT_EQ(lib_->InitDB(folder_->Write("type7.mdb", text).c_str()), -1003);
  EXPECT_EQ(lib_->BLH_BLH(-70.0, -30.0, 0.0, &L, &B, &h), -1007);
}

// Every finite input ends in a code or a finite point, never in NaN or a
// point that silently skipped a step.
TEST_F(MarloExports, NoPointThatIsNotFiniteOrIncompleteIsASuccess) {
  ASSERT_EQ(lib_->InitDB(demoPath_.c_str()), 1);
  double L = 7, B = 7, h = 7;
  EXPECT_EQ(lib_->BLH_BLH(14.5, 47.5, std::numeric_limits<double>::quiet_NaN(), &L, &B, &h), -1001);
  EXPECT_EQ(lib_->BLH_BLH(14.5, 47.5, std::numeric_limits<double>::infinity(), &L, &B, &h), -1001);
  EXPECT_EQ(L, 7.0);  // nothing written on failure
  // 2,500 km above the ellipsoid the conversion back from Cartesian
  // coordinates gives up (it leaves its outputs alone): the shift and the
  // change of ellipsoid cannot be applied, so there is no result. At
  // 1,000 km it still works.
  EXPECT_EQ(lib_->BLH_BLH(14.5, 47.7, 2500000.0, &L, &B, &h), -1001);
  EXPECT_EQ(L, 7.0);
  ASSERT_EQ(lib_->BLH_BLH(14.5, 47.7, 1000000.0, &L, &B, &h), 1);
  EXPECT_TRUE(std::isfinite(L) && std::isfinite(B) && std::isfinite(h));
  lib_->ExitDB();

  // Parameters so large that the arithmetic overflows.
  const std::string absurd[] = {"3\n1e308\n-1e308\n1e308\n0\n", "5\n0\n0\n0\n1e305\n",
                                "1\n0\n0\n0\n1e300\n0\n0\n0\n"};
  for (const std::string& parameters : absurd) {
    const std::string path =
        folder_->Write("absurd.mdb", GkSquareDatabase(15.0, -300000, 4900000, 600000, parameters));
    ASSERT_EQ(lib_->InitDB(path.c_str()), 1) << parameters;
    L = B = h = 7;
    EXPECT_EQ(lib_->BLH_BLH(15.2, 47.5, 300.0, &L, &B, &h), -1001) << parameters;
    EXPECT_EQ(B, 7.0);
  }
  lib_->ExitDB();
}

// A point inside an area whose longitude (or latitude) is out of range: the
// area search finds the area, the range check refuses the point.
TEST_F(MarloExports, CoordinatesOutOfRangeInsideAnArea) {
  // An area about the 180th meridian, on either side of it.
  for (double meridian : {180.0, -180.0}) {
    const std::string path = folder_->Write(
        "dateline.mdb", GkSquareDatabase(meridian, -300000, 4900000, 600000, "1\n0\n0\n0\n0\n0\n0\n0\n"));
    ASSERT_EQ(lib_->InitDB(path.c_str()), 1);
    const double sign = meridian > 0 ? 1.0 : -1.0;
    double L = 7, B = 7, h = 7;
    EXPECT_EQ(lib_->BLH_BLH(sign * 180.5, 47.0, 100.0, &L, &B, &h), -1001) << meridian;
    EXPECT_EQ(L, 7.0);
    EXPECT_EQ(lib_->BLH_BLH(sign * 180.0, 47.0, 100.0, &L, &B, &h), 1) << meridian;
    EXPECT_NEAR(L, sign * 180.0, 1e-9);
    EXPECT_EQ(lib_->BLH_BLH(sign * 179.5, 47.0, 100.0, &L, &B, &h), 1) << meridian;
    // The same point given in plane coordinates of the database meridian.
    auto gkIn = lib_->Get<MarloLibrary::GeoInPlaneOut>("TransformPoint_GKH_in_BLH_out");
    ASSERT_NE(gkIn, nullptr);
    EXPECT_EQ(gkIn(meridian, GkEasting(meridian, 38000.0), 5207000.0, 100.0, &L, &B, &h),
              meridian > 0 ? -1001 : 1);
  }
  lib_->ExitDB();
}

// Each parameter type reads its own subset of the seven parameters, and the
// types 0, 2 and 4 scale the height by a factor of its own. Reference: PROJ's
// rigorous Helmert transformation with the parameters the type carries
// (others 0), the horizontal position with the scale, the height with the
// height scale, between GRS80 and Bessel.
TEST_F(MarloExports, ParameterTypesAgainstRigorousHelmert) {
  const double tx = 12.5, ty = -8.25, tz = 20.0;    // metres
  const double rx = 1.2, ry = -0.8, rz = 2.1;       // arc seconds
  const double scale = 45.0, heightScale = -120.0;  // units of 0.1 ppm
  auto line = [](double v) {
    std::ostringstream o;
    o << std::setprecision(17) << v << "\n";
    return o.str();
  };
  const std::string T = line(tx) + line(ty) + line(tz), R = line(rx) + line(ry) + line(rz);
  const std::string S = line(scale), H = line(heightScale);
  struct Type {
    int type;
    std::string lines;
    bool translations, rotations, ownHeightScale;
  } types[] = {
      {0, T + R + S + H, true, true, true}, {1, T + R + S, true, true, false},
      {2, T + S + H, true, false, true},    {3, T + S, true, false, false},
      {4, R + S + H, false, true, true},    {5, R + S, false, true, false},
  };
  PJ_CONTEXT* ctx = proj_context_create();
  auto helmert = [&](const Type& t, double scaleUnits) {
    char pipeline[512];
    std::snprintf(pipeline, sizeof pipeline,
                  "+proj=pipeline +step +proj=cart +ellps=GRS80 +step +proj=helmert +x=%.6f +y=%.6f +z=%.6f "
                  "+rx=%.6f +ry=%.6f +rz=%.6f +s=%.6f +convention=coordinate_frame "
                  "+step +inv +proj=cart +a=%.4f +b=%.9f",
                  t.translations ? tx : 0.0, t.translations ? ty : 0.0, t.translations ? tz : 0.0,
                  t.rotations ? rx : 0.0, t.rotations ? ry : 0.0, t.rotations ? rz : 0.0, scaleUnits * 0.1,
                  kTestBessel.a, kTestBessel.b);
    return proj_create(ctx, pipeline);
  };
  double worstHorizontal = 0.0, worstHeight = 0.0;
  for (const Type& t : types) {
    const std::string path = folder_->Write(
        "type.mdb", GkSquareDatabase(15.0, -300000, 4900000, 600000, std::to_string(t.type) + "\n" + t.lines,
                                     {}, kTestGrs80, kTestBessel));
    ASSERT_EQ(lib_->InitDB(path.c_str()), 1) << t.type;
    PJ* horizontal = helmert(t, scale);
    PJ* vertical = helmert(t, t.ownHeightScale ? heightScale : scale);
    ASSERT_NE(horizontal, nullptr);
    ASSERT_NE(vertical, nullptr);
    for (double B : {44.5, 47.3, 49.0})
      for (double L : {12.0, 15.0, 17.5})
        for (double h : {0.0, 2500.0}) {
          double Lo = 0, Bo = 0, ho = 0;
          ASSERT_EQ(lib_->BLH_BLH(L, B, h, &Lo, &Bo, &ho), 1) << t.type << " " << B << " " << L;
          const PJ_COORD in = proj_coord(proj_torad(L), proj_torad(B), h, 0);
          const PJ_COORD p = proj_trans(horizontal, PJ_FWD, in);
          const PJ_COORD v = proj_trans(vertical, PJ_FWD, in);
          const double dB = (Bo - proj_todeg(p.lpzt.phi)) * 111200.0;
          const double dL = (Lo - proj_todeg(p.lpzt.lam)) * 111200.0 * std::cos(B * M_PI / 180.0);
          const double horizontalError = std::hypot(dB, dL), heightError = std::fabs(ho - v.lpzt.z);
          EXPECT_LT(horizontalError, 0.002) << "type " << t.type << " at " << B << " " << L << " " << h;
          EXPECT_LT(heightError, 0.002) << "type " << t.type << " at " << B << " " << L << " " << h;
          worstHorizontal = std::max(worstHorizontal, horizontalError);
          worstHeight = std::max(worstHeight, heightError);
        }
    proj_destroy(horizontal);
    proj_destroy(vertical);
  }
  proj_context_destroy(ctx);
  std::printf("parameter types vs rigorous Helmert: horizontal %.5f m, height %.5f m\n", worstHorizontal,
              worstHeight);
  lib_->ExitDB();
}

// Two copies of the library from different paths keep separate databases.
TEST_F(MarloExports, EachLoadedCopyHasItsOwnDatabase) {
  const std::filesystem::path one = folder_->Path() / "one" / "MarloDLL.so";
  const std::filesystem::path two = folder_->Path() / "two" / "MarloDLL.so";
  for (const auto& p : {one, two}) {
    std::filesystem::create_directories(p.parent_path());
    std::filesystem::copy_file(LibraryPath(), p, std::filesystem::copy_options::overwrite_existing);
  }
  MarloLibrary first(one.string()), second(two.string());
  ASSERT_TRUE(first.Loaded());
  ASSERT_TRUE(second.Loaded());
  ASSERT_EQ(first.InitDB(zeroPath_.c_str()), 1);
  ASSERT_EQ(second.InitDB(uniformPath_.c_str()), 1);
  double L1, B1, h1, L2, B2, h2;
  ASSERT_EQ(first.BLH_BLH(14.5, 47.5, 0.0, &L1, &B1, &h1), 1);
  ASSERT_EQ(second.BLH_BLH(14.5, 47.5, 0.0, &L2, &B2, &h2), 1);
  EXPECT_NEAR(L1, 14.5, 1e-10);
  EXPECT_GT(std::fabs(L2 - 14.5), 1e-4);  // about 100 m of datum difference
  first.ExitDB();
  double L3, B3, h3;
  EXPECT_EQ(second.BLH_BLH(14.5, 47.5, 0.0, &L3, &B3, &h3), 1);
  EXPECT_EQ(L3, L2);
  second.ExitDB();
}

}  // namespace
