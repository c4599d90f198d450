# Build rules shared by every folder: warnings, runtime linkage, and the helpers that add
# libraries, tests, fuzz targets and benchmarks the same way in every preset.

option(KV_BUILD_TESTS "Build the unit tests and fuzz replay drivers" ON)
set(KV_BUILD_BENCH_DEFAULT ON)
if(CMAKE_CROSSCOMPILING OR KV_SANITIZE OR KV_LIBFUZZER)
  set(KV_BUILD_BENCH_DEFAULT OFF)
endif()
option(KV_BUILD_BENCH "Build the benchmarks" ${KV_BUILD_BENCH_DEFAULT})

add_library(kv_options INTERFACE)
target_compile_options(kv_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Werror)
# No build path in any output, so two checkouts at different places build the same bytes. The
# build tree is usually inside the source tree: its mapping comes last and wins for its files.
target_compile_options(kv_options INTERFACE -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                                            -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
if(WIN32)
  # Unicode entry points, the lean include, and Windows Vista as the system every call must exist
  # on. Pinned here for every Windows target: the mingw headers otherwise set the newest system
  # as soon as any standard header comes first; platform/win32/Windows.h refuses other values.
  target_compile_definitions(kv_options INTERFACE UNICODE _UNICODE _WIN32_WINNT=0x0600 WINVER=0x0600
                                                  WIN32_LEAN_AND_MEAN NOMINMAX)
  # The shipped programs must run with nothing but the system's own DLLs.
  target_link_options(kv_options INTERFACE -static -static-libgcc -static-libstdc++)
  # No link time in the image headers: a release must be rebuilt byte for byte from its commit.
  target_link_options(kv_options INTERFACE -Wl,--no-insert-timestamp)
endif()
if(KV_SANITIZE)
  target_compile_options(kv_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                              -fno-sanitize-recover=all)
  target_link_options(kv_options INTERFACE -fsanitize=address,undefined)
endif()
if(KV_LIBFUZZER)
  # Everything is instrumented for coverage; only the libFuzzer binaries link its main.
  target_compile_options(kv_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_options(kv_options INTERFACE -fsanitize=address,undefined)
endif()

# kv_library(name SOURCES... [DEPS libs...]): one static library per subsystem folder.
function(kv_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC kv_options ${ARG_DEPS})
endfunction()

# kv_program(name SOURCES... [DEPS libs...])
function(kv_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kv_options ${ARG_DEPS})
endfunction()

if(KV_BUILD_TESTS)
  enable_testing()
  # The same GoogleTest sources in every preset, so the cross builds need nothing prebuilt.
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
  if(CMAKE_CROSSCOMPILING)
    set(KV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run ${KV_WINEPREFIX})
  endif()
  include(GoogleTest)
endif()

# Marks a test as skipped when the Wine runner answers 77 (no 32-bit Wine on this machine).
function(kv_test_properties test)
  set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endfunction()

# kv_test(name SOURCES... [DEPS libs...]): a GoogleTest program registered with CTest.
# Natively every test case is its own CTest entry; under Wine one entry per program, since
# each start of a Windows program costs far more than the cases it runs.
function(kv_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kv_options ${ARG_DEPS} gtest gmock gtest_main)
  target_compile_definitions(${name} PRIVATE KV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    kv_test_properties(${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 600)
  endif()
endfunction()

# kv_fuzz(name SOURCE [DEPS libs...]): a fuzz target with the replay driver, run over its
# corpus in fuzz/corpus/<name> as an ordinary test; with KV_LIBFUZZER also a libFuzzer binary.
function(kv_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCE;DEPS" ${ARGN})
  add_executable(fuzz_${name} ${ARG_SOURCE} ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  target_link_libraries(fuzz_${name} PRIVATE kv_options ${ARG_DEPS})
  add_test(NAME fuzz_replay_${name} COMMAND fuzz_${name} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  kv_test_properties(fuzz_replay_${name})
  if(KV_LIBFUZZER)
    add_executable(libfuzzer_${name} ${ARG_SOURCE})
    target_link_options(libfuzzer_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(libfuzzer_${name} PRIVATE kv_options ${ARG_DEPS})
  endif()
endfunction()

# kv_bench(name SOURCES... [DEPS libs...]): a benchmark program, optimised, never a test.
function(kv_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kv_options ${ARG_DEPS})
  target_compile_options(${name} PRIVATE -O2)
endfunction()
