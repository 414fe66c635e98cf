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

if(NOT CLIPSALVAGE_EWF_ROOT)
  if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(cache_home "$ENV{XDG_CACHE_HOME}")
  else()
    set(cache_home "$ENV{HOME}/.cache")
  endif()
  execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpversion OUTPUT_VARIABLE compiler_version
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/scripts/cross-libewf")
  file(SHA256 "${PROJECT_SOURCE_DIR}/scripts/cross-libewf" recipe)
  string(SUBSTRING "${recipe}" 0 8 recipe)
  file(GLOB candidates LIST_DIRECTORIES true
       "${cache_home}/clipsalvage/libewf-*-${MINGW_TRIPLE}-gcc${compiler_version}-${recipe}")
  list(SORT candidates COMPARE NATURAL ORDER DESCENDING)
  foreach(candidate IN LISTS candidates)
    if(EXISTS "${candidate}/lib/libewf.a")
      set(CLIPSALVAGE_EWF_ROOT "${candidate}")
      break()
    endif()
  endforeach()
endif()
if(NOT CLIPSALVAGE_EWF_ROOT OR NOT EXISTS "${CLIPSALVAGE_EWF_ROOT}/lib/libewf.a")
  message(FATAL_ERROR "libewf for ${MINGW_TRIPLE} not found in ${cache_home}/clipsalvage: run scripts/setup")
endif()
message(STATUS "libewf: ${CLIPSALVAGE_EWF_ROOT}")
find_library(CLIPSALVAGE_MINGW_ZLIB NAMES libz.a REQUIRED)
add_library(clipsalvage_libewf INTERFACE)
target_include_directories(clipsalvage_libewf SYSTEM INTERFACE "${CLIPSALVAGE_EWF_ROOT}/include")
target_link_libraries(clipsalvage_libewf INTERFACE "${CLIPSALVAGE_EWF_ROOT}/lib/libewf.a" ${CLIPSALVAGE_MINGW_ZLIB})
