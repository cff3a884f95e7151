// The exports of the built OrvelMan4.so, loaded the way the server loads it.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>

#include "OrvelMan4.h"
#include "OrvelTestFiles.h"
#include "runtime/ProgramFolder.h"

namespace {

TEST(OrvelExports, ContractOfTheTwoEntries) {
  const auto file = tarvik::ExecutableFolder() / "OrvelMan4.so";
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto init = reinterpret_cast<decltype(&InitOrvelDB)>(dlsym(handle, "InitOrvelDB"));
  auto surface = reinterpret_cast<decltype(&GetNFEMbyLatLongH)>(dlsym(handle, "GetNFEMbyLatLongH"));
  ASSERT_NE(init, nullptr);
  ASSERT_NE(surface, nullptr);

  double a = 7, n = 7, sn = 7, se = 7;
  EXPECT_EQ(surface(47.5, 13.5, 500, 1.0, &a, &n, &sn, &se), ORVEL_NOT_INITIALIZED);
  EXPECT_EQ(n, 7);

  tarvik::testing::ScratchFolder scratch("orvel");
  EXPECT_EQ(init(nullptr), ORVEL_INIT_BAD_ARGUMENT);
  EXPECT_EQ(init(scratch.Write("broken", "ORVELGRID 1\n").c_str()), ORVEL_INIT_BAD_HEADER);
  ASSERT_EQ(init(scratch.Write("g", SmallGrid()).c_str()), 1);

  // First output: the undulation; second: the point's height above the surface,
  // which the server takes as the target height.
  ASSERT_EQ(surface(47.25, 13.25, 500, 1.0, &a, &n, &sn, &se), 0);
  EXPECT_DOUBLE_EQ(a, 41.5);
  EXPECT_DOUBLE_EQ(n, 500 - 41.5);
  ASSERT_EQ(surface(47.25, 13.25, 500, 0.01, &a, &n, &sn, &se), 0);
  EXPECT_DOUBLE_EQ(a, 4150.0);  // factor: centimetres
  EXPECT_DOUBLE_EQ(n, 45850.0);

  a = n = 7;
  EXPECT_EQ(surface(50, 13.5, 500, 1.0, &a, &n, &sn, &se), ORVEL_OUTSIDE_GRID);
  EXPECT_EQ(surface(NAN, 13.5, 500, 1.0, &a, &n, &sn, &se), ORVEL_BAD_ARGUMENT);
  EXPECT_EQ(surface(47.5, 13.5, 500, 0.0, &a, &n, &sn, &se), ORVEL_BAD_ARGUMENT);
  EXPECT_EQ(surface(47.5, 13.5, 500, 1.0, &a, nullptr, &sn, &se), ORVEL_BAD_ARGUMENT);
  EXPECT_EQ(n, 7);  // failures leave the outputs alone

  // A failed reload keeps the grid loaded before.
  EXPECT_EQ(init(scratch.Write("broken2", "").c_str()), ORVEL_INIT_BAD_HEADER);
  EXPECT_EQ(surface(47.25, 13.25, 500, 1.0, &a, &n, &sn, &se), 0);
  dlclose(handle);
}

}  // namespace
