# Installs the build into a fresh prefix, then builds and runs examples/consumer against it, as
# an application team would: with find_package(Tarvik), and with pkg-config. Run by CTest:
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -DC_COMPILER=...
#         -DCXX_COMPILER=... -DEXTRA_FLAGS=... -P check-consumer.cmake
cmake_minimum_required(VERSION 3.25)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                  TIMEOUT 300)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# What an application needs is where the package says it is.
foreach(file include/tarvik/Tarvik.h include/tarvik/tarvik_platform.h
             include/tarvik/vboard/vboard.h include/tarvik/vboard/vboard_c.h
             include/tarvik/vboard/gtest.h include/tarvik/vboard/gpio.h include/tarvik/vboard/i2c.h
             include/tarvik/vboard/spi.h include/tarvik/vboard/uart.h include/tarvik/vboard/can.h
             include/tarvik/vboard/system.h lib/libTarvik.so lib/libtarvik_vboard.so
             lib/cmake/Tarvik/TarvikConfig.cmake lib/cmake/Tarvik/TarvikConfigVersion.cmake
             lib/pkgconfig/tarvik.pc share/tarvik/boards/evaluation.conf
             share/tarvik/boards/line-controller.conf)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "the install has no ${file}")
  endif()
endforeach()

# The consumer's own warnings are errors too: the installed headers must compile cleanly in
# an application's strict build, in C and in C++.
set(flags "-Wall -Wextra -Wpedantic -Werror ${EXTRA_FLAGS}")
run("configuring the consumer" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer
    -B ${WORK_DIR}/build -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_C_FLAGS=${flags}" "-DCMAKE_CXX_FLAGS=${flags}"
    "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
run("building the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("the consumer's tests" ${CMAKE_CTEST_COMMAND} --test-dir ${WORK_DIR}/build --output-on-failure)
message(STATUS "find_package(Tarvik): ${run_output}")

# The same application, compiled with what pkg-config says.
find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig
    ${PKG_CONFIG} --cflags --libs tarvik)
separate_arguments(pc_flags UNIX_COMMAND "${run_output}")
separate_arguments(extra UNIX_COMMAND "${flags}")
run("compiling with pkg-config's flags" ${C_COMPILER} ${extra}
    ${SOURCE_DIR}/examples/consumer/door_monitor.c ${SOURCE_DIR}/examples/consumer/door.c
    ${pc_flags} -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/door_monitor_pc)
run("the pkg-config build" ${CMAKE_COMMAND} -E env
    VBOARD_CONFIG=${prefix}/share/tarvik/boards/evaluation.conf VBOARD_STRICT=1
    ${WORK_DIR}/door_monitor_pc)
if(NOT run_output MATCHES "door closed, lamp off")
  message(FATAL_ERROR "the pkg-config build said: ${run_output}")
endif()
message(STATUS "pkg-config: ${run_output}")
