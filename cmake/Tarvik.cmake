# Helpers shared by every folder of the project.

# The version line of the log header comes from here.
set(TARVIK_VERSION_STRING "${PROJECT_VERSION}")

# tarvik_shared_library(NAME SOURCES...)
# A deliverable shared library: file name without the "lib" prefix
# (PelProjection.so, MarloDLL.so, OrvelMan4.so), symbols hidden unless
# exported explicitly.
function(tarvik_shared_library name)
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# tarvik_test(NAME SOURCES... LIBS ...)
# One GoogleTest executable, registered with CTest test by test.
find_package(GTest REQUIRED)
include(GoogleTest)
function(tarvik_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300)
endfunction()
