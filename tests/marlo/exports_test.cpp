// The loaded library as the server and other callers see it: lifecycle
// codes, the transformation against an independent Helmert transformation,
// agreement of the twenty exports, and separate state per loaded copy.

#include <gtest/gtest.h>
#include <proj.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>

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
