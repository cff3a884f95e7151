#include "runtime/ProgramFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(ProgramFolder, IsTheExecutablesFolderNotTheWorkingDirectory) {
  const auto exeFolder = tarvik::ExecutableFolder();
  char* saved = getcwd(nullptr, 0);
  ASSERT_EQ(0, chdir("/"));
  EXPECT_EQ(exeFolder, tarvik::ExecutableFolder());
  EXPECT_EQ(exeFolder, tarvik::ProgramFolder());
  ASSERT_EQ(0, chdir(saved));
  free(saved);
  EXPECT_TRUE(std::filesystem::exists(exeFolder / "test_runtime_program_folder"));
}

TEST(ProgramFolder, HomeOverridesOnlyTheProgramFolder) {
  tarvik::SetProgramFolder("/tmp/tarvik-home/../tarvik-home");
  EXPECT_EQ(std::filesystem::path("/tmp/tarvik-home"), tarvik::ProgramFolder());
  EXPECT_NE(tarvik::ProgramFolder(), tarvik::ExecutableFolder());
  tarvik::SetProgramFolder({});
  EXPECT_EQ(tarvik::ExecutableFolder(), tarvik::ProgramFolder());
}

}  // namespace
