# Project-wide compiler settings and the helpers every folder uses.
include_guard(GLOBAL)

# Win32 structures are initialised by their size field alone ({sizeof(s)}), the
# rest zeroed; that idiom is what -Wmissing-field-initializers objects to.
add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)
if(CLIPSALVAGE_WERROR)
  add_compile_options(-Werror)
endif()

if(WIN32)
  # Wide-character Win32 throughout; Windows 7 is the oldest target.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # Static PE32: no libstdc++, libgcc or winpthread DLLs beside the program.
  add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
  # The Windows build may assume SSE2.
  add_compile_options(-msse2 -mfpmath=sse)
  set(CLIPSALVAGE_JPEG_ROOT ${CMAKE_SOURCE_DIR}/.cache/libjpeg-${CMAKE_SYSTEM_PROCESSOR} CACHE PATH
      "libjpeg-turbo built static for this MinGW target by scripts/setup")
  list(APPEND CMAKE_FIND_ROOT_PATH ${CLIPSALVAGE_JPEG_ROOT})
endif()

if(CLIPSALVAGE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz tree: coverage for libFuzzer in every object, the fuzzer's main
# linked into the fuzz targets only (fuzz/CMakeLists.txt).
option(CLIPSALVAGE_FUZZ "Build the libFuzzer targets (clang) with ASan and UBSan" OFF)
if(CLIPSALVAGE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The ThreadSanitizer tree: the core libraries and the read-ahead stress test.
option(CLIPSALVAGE_TSAN "Build the read-ahead stress test with ThreadSanitizer (clang)" OFF)
if(CLIPSALVAGE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

find_package(JPEG REQUIRED)

# clipsalvage_library(NAME SOURCES...): one library target per source folder.
# Its folder's parent (src/) is the include root, so code includes "base/utf8.h".
function(clipsalvage_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# Win32 tests run in the 64-bit Windows build only (see docs/testing.md).
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CLIPSALVAGE_WINE_TESTS_DEFAULT ON)
else()
  set(CLIPSALVAGE_WINE_TESTS_DEFAULT OFF)
endif()
option(CLIPSALVAGE_WINE_TESTS "Build the Win32 test programs and run them under Wine" ${CLIPSALVAGE_WINE_TESTS_DEFAULT})
set(CLIPSALVAGE_WINE_DIR ${CMAKE_BINARY_DIR}/wine CACHE PATH "State of the test run's Wine environment")

# clipsalvage_test(NAME SOURCES... LIBS libs...): one GoogleTest program.
# Natively every test case becomes a CTest test; under Wine the program is one
# CTest test, since each Wine start costs more than most test cases.
function(clipsalvage_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(WIN32)
    add_test(NAME wine.${name} COMMAND ${name})
    set_tests_properties(wine.${name} PROPERTIES
      FIXTURES_REQUIRED wine RESOURCE_LOCK wine LABELS wine TIMEOUT 600
      ENVIRONMENT "CLIPSALVAGE_WINE_DIR=${CLIPSALVAGE_WINE_DIR}")
  else()
    gtest_discover_tests(${name} PROPERTIES LABELS native DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
