# Installing the library for applications on a host: the headers under include/tarvik, the
# library and the virtual board that plays the system under lib, a CMake package
# (find_package(Tarvik) gives Tarvik::Tarvik and Tarvik::vboard), a pkg-config file (tarvik) and
# the example carrier boards under share/tarvik/boards.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TARVIK_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/tarvik)
set(TARVIK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tarvik)

# libTarvik.so finds the board it imports from beside itself, wherever the prefix is.
set_target_properties(Tarvik PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(tarvik_vboard PROPERTIES EXPORT_NAME vboard)

install(TARGETS Tarvik tarvik_vboard EXPORT TarvikTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${TARVIK_INSTALL_INCLUDEDIR})
# The public header and the seam it includes (the CE types on a host), then the board's control
# headers: vboard.h, vboard_c.h, each family's, and the GoogleTest fixture.
install(FILES include/Tarvik.h src/platform/tarvik_platform.h
        DESTINATION ${TARVIK_INSTALL_INCLUDEDIR})
install(DIRECTORY vboard/include/vboard DESTINATION ${TARVIK_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
install(DIRECTORY examples/boards DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvik
        FILES_MATCHING PATTERN "*.conf")

install(EXPORT TarvikTargets NAMESPACE Tarvik:: DESTINATION ${TARVIK_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/TarvikConfig.cmake.in
  ${TARVIK_GENERATED}/TarvikConfig.cmake INSTALL_DESTINATION ${TARVIK_INSTALL_CMAKEDIR}
  PATH_VARS CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${TARVIK_GENERATED}/TarvikConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${TARVIK_GENERATED}/TarvikConfig.cmake ${TARVIK_GENERATED}/TarvikConfigVersion.cmake
        DESTINATION ${TARVIK_INSTALL_CMAKEDIR})

# The prefix is where the file is found, so that `cmake --install --prefix` anywhere works.
file(RELATIVE_PATH TARVIK_PC_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" TARVIK_PC_PREFIX "${TARVIK_PC_PREFIX}")
configure_file(cmake/tarvik.pc.in ${TARVIK_GENERATED}/tarvik.pc @ONLY)
install(FILES ${TARVIK_GENERATED}/tarvik.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
