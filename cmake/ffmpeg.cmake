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

include(${CMAKE_CURRENT_LIST_DIR}/UserCache.cmake)
clipsalvage_cached_build(CLIPSALVAGE_FFMPEG_ROOT ffmpeg ${CMAKE_CURRENT_LIST_DIR}/ffmpeg-options.txt lib/libavformat.a)
target_include_directories(ffmpeg SYSTEM INTERFACE "${CLIPSALVAGE_FFMPEG_ROOT}/include")
# Static libraries, each before the ones it needs, then the system libraries
# their configure chose (all Windows system DLLs).
set(ffmpeg_libs)
foreach(lib avformat avcodec swscale avutil)
  list(APPEND ffmpeg_libs "${CLIPSALVAGE_FFMPEG_ROOT}/lib/lib${lib}.a")
endforeach()
target_link_libraries(ffmpeg INTERFACE ${ffmpeg_libs} ole32 user32 bcrypt)
