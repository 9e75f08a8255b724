# GoogleTest: the system's on a host build; built from the sources Debian ships when the
# toolchain names them (a cross build has no prebuilt GoogleTest for its target).
if(TARVIK_GTEST_SOURCES AND NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TARVIK_GTEST_SOURCES} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its sources are not ours: our warning flags are not theirs to meet.
  foreach(_target gtest gtest_main)
    target_compile_options(${_target} PRIVATE -w)
  endforeach()
  # Recent GoogleTest sources name their targets GTest::gtest themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
elseif(NOT TARVIK_GTEST_SOURCES)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
