# FFmpeg's libraries for src/export, as the target `ffmpeg`. Natively Debian's
# shared libraries (pkg-config). The Windows builds link the minimal static
# build that scripts/setup makes from Debian's source package into the user's
# cache folder, one folder per source version, toolchain and option set
# (cmake/ffmpeg-options.txt):
#   ${XDG_CACHE_HOME:-~/.cache}/clipsalvage/ffmpeg-VERSION-TRIPLE-gccCOMPILER-OPTIONS
# so every checkout on the machine, a fresh clone too, reuses it. Set
# CLIPSALVAGE_FFMPEG_ROOT to use another build.
include_guard(GLOBAL)

add_library(ffmpeg INTERFACE)
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswscale libavutil)
  target_link_libraries(ffmpeg INTERFACE PkgConfig::FFMPEG)
  return()
endif()

if(NOT CLIPSALVAGE_FFMPEG_ROOT)
  if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(cache_home "$ENV{XDG_CACHE_HOME}")
  else()
    set(cache_home "$ENV{HOME}/.cache")
  endif()
  execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpversion OUTPUT_VARIABLE compiler_version
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(SHA256 ${CMAKE_CURRENT_LIST_DIR}/ffmpeg-options.txt options_hash)
  string(SUBSTRING "${options_hash}" 0 8 options_hash)
  file(GLOB candidates LIST_DIRECTORIES true
       "${cache_home}/clipsalvage/ffmpeg-*-${MINGW_TRIPLE}-gcc${compiler_version}-${options_hash}")
  list(SORT candidates COMPARE NATURAL ORDER DESCENDING)
  foreach(candidate IN LISTS candidates)
    if(EXISTS "${candidate}/lib/libavformat.a")
      set(CLIPSALVAGE_FFMPEG_ROOT "${candidate}")
      break()
    endif()
  endforeach()
endif()
if(NOT CLIPSALVAGE_FFMPEG_ROOT OR NOT EXISTS "${CLIPSALVAGE_FFMPEG_ROOT}/lib/libavformat.a")
  message(FATAL_ERROR "FFmpeg for ${MINGW_TRIPLE} not found in ${cache_home}/clipsalvage: run scripts/setup")
endif()
message(STATUS "FFmpeg: ${CLIPSALVAGE_FFMPEG_ROOT}")
# The options file is part of the folder's name: a change to it configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/ffmpeg-options.txt)
target_include_directories(ffmpeg SYSTEM INTERFACE "${CLIPSALVAGE_FFMPEG_ROOT}/include")
# Static libraries, each before the ones it needs, then the system libraries
# their configure chose (all Windows system DLLs).
set(ffmpeg_libs)
foreach(lib avformat avcodec swscale avutil)
  list(APPEND ffmpeg_libs "${CLIPSALVAGE_FFMPEG_ROOT}/lib/lib${lib}.a")
endforeach()
target_link_libraries(ffmpeg INTERFACE ${ffmpeg_libs} ole32 user32 bcrypt)
