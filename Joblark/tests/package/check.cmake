# Installs the built library into a scratch prefix, then builds and runs a consumer through the CMake
# package and through pkg-config.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/cmake-consumer" -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build "${WORK_DIR}/cmake-consumer")
run("${WORK_DIR}/cmake-consumer/consumer")
message(STATUS "find_package consumer: ${last_output}")

file(GLOB pcdir LIST_DIRECTORIES true "${prefix}/lib*/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
run(pkg-config --cflags --libs joblark)
string(STRIP "${last_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
# The headers need C++20; a consumer chooses its own standard (at least that).
run(${CXX_COMPILER} -std=c++20 ${flags} "${SOURCE_DIR}/consumer.cpp" -o "${WORK_DIR}/pc-consumer" ${flags})
set(ENV{LD_LIBRARY_PATH} "${pcdir}/..")
run("${WORK_DIR}/pc-consumer")
message(STATUS "pkg-config consumer: ${last_output}")
