// The built PelProjection.so as its callers see it: loaded from the
// executable's folder, every export found by name with C linkage, and the
// state of one thread never leaking into another's calls.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ProjectionTestSupport.h"
#include "runtime/ProgramFolder.h"

using namespace projection_test;

namespace {

const char* const kExports[] = {"InitializeDLL",
                                "SetL0",
                                "GetL0",
                                "SetL0Auto",
                                "GetL0Auto",
                                "SetB0",
                                "GetB0",
                                "SetEllipDim",
                                "GetA",
                                "GetB",
                                "SetBNord",
                                "GetBNord",
                                "SetBSued",
                                "GetBSued",
                                "SetFalseNorth",
                                "GetFalseNorth",
                                "SetFalseEast",
                                "GetFalseEast",
                                "SetLambType",
                                "GetLambType",
                                "SetLambCase",
                                "GetLambCase",
                                "SetGKCase",
                                "GetGKCase",
                                "DEZGMS",
                                "GMSDEZ",
                                "BLH_to_XYZ",
                                "XYZ_to_BLH",
                                "EllipsoidalCoordinates_to_XYZ",
                                "XYZ_to_EllipsoidalCoordinates",
                                "BL_to_EN_Soldner",
                                "EN_to_BL_Soldner",
                                "BL_to_EN_UTM_Raw",
                                "EN_to_BL_UTM_Raw",
                                "BL_to_EN_UTM_With_Zone",
                                "EN_to_BL_UTM_With_Zone",
                                "BL_to_EN_GK",
                                "EN_to_BL_GK",
                                "BL_to_EN_Lambert",
                                "EN_to_BL_Lambert",
                                "BL_to_EN_Mercator",
                                "EN_to_BL_Mercator",
                                "BL_to_EN_EOV",
                                "EN_to_BL_EOV",
                                "BL_to_EN_Switzerland_Conformal_DoubleProjection",
                                "EN_to_BL_Switzerland_Conformal_DoubleProjection"};

using InitializeFn = decltype(&InitializeDLL);
using ToXYZFn = decltype(&BLH_to_XYZ);
using ToENFn = decltype(&BL_to_EN_UTM_Raw);
using GetterFn = decltype(&GetL0);

class LoadedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = (tarvik::ExecutableFolder() / "PelProjection.so").string();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }
  template <typename F>
  F Bind(const char* name) {
    return reinterpret_cast<F>(dlsym(handle_, name));
  }
  void* handle_ = nullptr;
};

}  // namespace

TEST_F(LoadedLibrary, EveryExportIsFoundByItsPlainName) {
  static_assert(std::size(kExports) == 46);
  for (const char* name : kExports) EXPECT_NE(dlsym(handle_, name), nullptr) << name;
  EXPECT_EQ(dlsym(handle_, "_ZN3pel5StateEv"), nullptr);  // internals stay hidden
}

TEST_F(LoadedLibrary, ThreadsPushingDifferentStatesNeverSeeEachOther) {
  // Callers with different ellipsoids, each pushing its whole state before
  // every call, as the server and the database library do.
  const auto init = Bind<InitializeFn>("InitializeDLL");
  const auto toXYZ = Bind<ToXYZFn>("BLH_to_XYZ");
  const auto toUTM = Bind<ToENFn>("BL_to_EN_UTM_Raw");
  const auto getL0 = Bind<GetterFn>("GetL0");
  ASSERT_TRUE(init && toXYZ && toUTM && getL0);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (const Axes& axes : {kGRS80, kBessel, kHayford}) {
    threads.emplace_back([&, axes] {
      for (int i = 0; i < 20000; ++i) {
        init(0, 1, 0, axes.a, axes.b, 0, 0, 0, 0, 0, 0, 0);
        double x, y, z, e, n;
        toXYZ(0, 0, 0, &x, &y, &z);
        // UTM with L0Auto writes L0; only this thread may see it.
        const double L = 6.0 * (i % 50) + 1.0;
        toUTM(10, L, &e, &n);
        if (x != axes.a || getL0() != L + 2.0) ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}
