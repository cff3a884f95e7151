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

# tarvik_test_folder(LIBS ...)
# Every *_test.cpp of the calling folder becomes one test executable named
# test_<folder>_<file>, linked with LIBS. New test files need no edit.
function(tarvik_test_folder)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(f ${files})
    get_filename_component(stem ${f} NAME_WE)
    string(REGEX REPLACE "_test$" "" stem ${stem})
    tarvik_test(test_${folder}_${stem} SOURCES ${f} LIBS ${F_LIBS})
    target_include_directories(test_${folder}_${stem} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  endforeach()
endfunction()

# Installed layout (prefix /usr in the Debian package): the program and the
# three libraries it loads from its own folder stay together in one private
# folder; commands and tools go on the PATH.
set(TARVIK_INSTALL_PROGRAMDIR lib/tarvik)
set(TARVIK_INSTALL_BINDIR bin)
set(TARVIK_INSTALL_DATADIR share/tarvik)
set(TARVIK_INSTALL_MANDIR share/man)

# tarvik_install_manpage(FILE)
# Installs a roff manual page gzipped (as Debian wants it), into the man
# section given by the file's extension (tarvik-client.1 -> man1).
function(tarvik_install_manpage file)
  get_filename_component(name ${file} NAME)
  string(REGEX MATCH "[0-9]$" section ${name})
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND sh -c "gzip -9n -c '${file}' > '${gz}'"
    DEPENDS ${file} VERBATIM)
  string(MAKE_C_IDENTIFIER "man_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION ${TARVIK_INSTALL_MANDIR}/man${section})
endfunction()

# tarvik_install_tool(TARGET)
# Every command-line tool of tools/ is installed on the PATH with one call in
# its own CMakeLists; a manual page TARGET.1 beside that CMakeLists goes
# with it.
function(tarvik_install_tool target)
  install(TARGETS ${target} RUNTIME DESTINATION ${TARVIK_INSTALL_BINDIR})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${target}.1)
    tarvik_install_manpage(${CMAKE_CURRENT_SOURCE_DIR}/${target}.1)
  endif()
endfunction()

# tarvik_install_tool_beside_libraries(TARGET)
# A tool that loads the libraries from its own folder (as the program does)
# is installed beside them, with a link of the same name on the PATH: the
# folder of a program is that of the file the link leads to.
function(tarvik_install_tool_beside_libraries target)
  install(TARGETS ${target} RUNTIME DESTINATION ${TARVIK_INSTALL_PROGRAMDIR})
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/link)
  file(CREATE_LINK ../${TARVIK_INSTALL_PROGRAMDIR}/${target} ${CMAKE_CURRENT_BINARY_DIR}/link/${target} SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/link/${target} DESTINATION ${TARVIK_INSTALL_BINDIR})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${target}.1)
    tarvik_install_manpage(${CMAKE_CURRENT_SOURCE_DIR}/${target}.1)
  endif()
endfunction()
