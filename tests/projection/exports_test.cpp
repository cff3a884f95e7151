// The built PelProjection.so as its callers see it: loaded from the
// executable's folder, every export found by name with C linkage, and the
// state of one thread never leaking into another's calls.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "ProjectionTestSupport.h"
#include "runtime/ProgramFolder.h"

using namespace projection_test;

namespace {

const char* const kExports[] = {
    "InitializeDLL", "SetL0", "GetL0", "SetL0Auto", "GetL0Auto", "SetB0", "GetB0", "SetEllipDim",
    "GetA", "GetB", "SetBNord", "GetBNord", "SetBSued", "GetBSued", "SetFalseNorth",
    "GetFalseNorth", "SetFalseEast", "GetFalseEast", "SetLambType", "GetLambType", "SetLambCase",
    "GetLambCase", "SetGKCase", "GetGKCase", "DEZGMS", "GMSDEZ", "BLH_to_XYZ", "XYZ_to_BLH",
    "EllipsoidalCoordinates_to_XYZ", "XYZ_to_EllipsoidalCoordinates", "BL_to_EN_Soldner",
    "EN_to_BL_Soldner", "BL_to_EN_UTM_Raw", "EN_to_BL_UTM_Raw", "BL_to_EN_UTM_With_Zone",
    "EN_to_BL_UTM_With_Zone", "BL_to_EN_GK", "EN_to_BL_GK", "BL_to_EN_Lambert",
    "EN_to_BL_Lambert", "BL_to_EN_Mercator", "EN_to_BL_Mercator", "BL_to_EN_EOV", "EN_to_BL_EOV",
    "BL_to_EN_Switzerland_Conformal_DoubleProjection",
    "EN_to_BL_Switzerland_Conformal_DoubleProjection"};

using InitializeFn = void (*)(double, int, double, double, double, double, double, double, double,
                              int, int, int);
using ToXYZFn = void (*)(double, double, double, double*, double*, double*);
using ToENFn = void (*)(double, double, double*, double*);
using GetterFn = double (*)();

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
    static_assert(sizeof kExports / sizeof kExports[0] == 46);
    for (const char* name : kExports) EXPECT_NE(dlsym(handle_, name), nullptr) << name;
    // Internals stay hidden.
    EXPECT_EQ(dlsym(handle_, "_ZN3pel5StateEv"), nullptr);
}

TEST_F(LoadedLibrary, PushAndCallThroughBoundPointers) {
    const auto init = Bind<InitializeFn>("InitializeDLL");
    const auto toXYZ = Bind<ToXYZFn>("BLH_to_XYZ");
    const auto getFalseNorth = Bind<GetterFn>("GetFalseNorth");
    ASSERT_NE(init, nullptr);
    ASSERT_NE(toXYZ, nullptr);
    init(0, 0, 0, kGRS80.a, kGRS80.b, 0, 0, 1.25, 2.5, 0, 0, 0);
    EXPECT_EQ(getFalseNorth(), 1.25);
    double x, y, z;
    toXYZ(0, 0, 10, &x, &y, &z);
    EXPECT_NEAR(x, kGRS80.a + 10, 1e-9);
}

TEST_F(LoadedLibrary, ThreadsPushingDifferentStatesNeverSeeEachOther) {
    // Two callers with different ellipsoids and zone rules, each pushing its
    // whole state before every call, as the server and the database do.
    const auto init = Bind<InitializeFn>("InitializeDLL");
    const auto toXYZ = Bind<ToXYZFn>("BLH_to_XYZ");
    const auto toUTM = Bind<ToENFn>("BL_to_EN_UTM_Raw");
    struct Caller {
        Axes axes;
        double expectedX;
    };
    std::vector<Caller> callers = {{kGRS80, kGRS80.a}, {kBessel, kBessel.a}, {kHayford, kHayford.a}};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (const Caller& c : callers) {
        threads.emplace_back([&, c] {
            for (int i = 0; i < 20000; ++i) {
                init(0, 1, 0, c.axes.a, c.axes.b, 0, 0, 0, 0, 0, 0, 0);
                double x, y, z;
                toXYZ(0, 0, 0, &x, &y, &z);
                if (x != c.expectedX) ++wrong;
                // UTM with L0Auto writes L0 into the state; only this thread sees it.
                double e, n;
                toUTM(10, 6.0 * (i % 50) + 1.0, &e, &n);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}
