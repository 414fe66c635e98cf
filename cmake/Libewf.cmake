# libewf, for the E01 evidence-file source. Natively the system's library
# (Debian's libewf-dev, through pkg-config). The Windows builds link the static
# library that scripts/setup builds from Debian's source package into the
# user's cache folder, one folder per source version, toolchain and recipe:
#   ${XDG_CACHE_HOME:-~/.cache}/clipsalvage/libewf-VERSION-TRIPLE-gccCOMPILER-RECIPE
# (RECIPE: the first 8 hex digits of scripts/cross-libewf's SHA-256), so every
# checkout on the machine (a fresh clone too) reuses it, and a changed recipe
# is never mixed up with an older build. Set CLIPSALVAGE_EWF_ROOT to use
# another build.
include_guard(GLOBAL)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBEWF REQUIRED IMPORTED_TARGET libewf)
  add_library(clipsalvage_libewf INTERFACE)
  target_link_libraries(clipsalvage_libewf INTERFACE PkgConfig::LIBEWF)
  return()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/UserCache.cmake)
clipsalvage_cached_build(CLIPSALVAGE_EWF_ROOT libewf ${PROJECT_SOURCE_DIR}/scripts/cross-libewf lib/libewf.a)
find_library(CLIPSALVAGE_MINGW_ZLIB NAMES libz.a REQUIRED)
add_library(clipsalvage_libewf INTERFACE)
target_include_directories(clipsalvage_libewf SYSTEM INTERFACE "${CLIPSALVAGE_EWF_ROOT}/include")
target_link_libraries(clipsalvage_libewf INTERFACE "${CLIPSALVAGE_EWF_ROOT}/lib/libewf.a" ${CLIPSALVAGE_MINGW_ZLIB})
