# Shared by the comparisons of Windows exports under Wine with native ones.
#
# expect_same_mp4(LABEL WIN_FILE WIN_SHA NATIVE_FILE NATIVE_SHA SAME_LIBRARY):
# the Windows file is the one its reported SHA-256 names; with the same video
# library versions both files are the same bytes, otherwise they decode to the
# same frames (ffmpeg's framemd5). Needs FFMPEG.

function(framemd5 file out)
  execute_process(COMMAND ${FFMPEG} -nostdin -v error -i ${file} -f framemd5 -
                  OUTPUT_VARIABLE md5 ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(SEND_ERROR "ffmpeg could not decode ${file}: ${err}")
  endif()
  string(REGEX REPLACE "#[^\n]*\n" "" md5 "${md5}")
  set(${out} "${md5}" PARENT_SCOPE)
endfunction()

function(expect_same_mp4 label win_file win_sha native_file native_sha same_library)
  file(SHA256 ${win_file} win_file_sha)
  if(NOT win_file_sha STREQUAL win_sha)
    message(SEND_ERROR "${label}: the reported SHA-256 is not the file's")
  endif()
  if(same_library)
    if(NOT win_sha STREQUAL native_sha)
      message(SEND_ERROR "${label}: different MP4 bytes under Wine (${win_sha}) and natively (${native_sha})")
    endif()
  else()
    framemd5(${win_file} win_md5)
    framemd5(${native_file} native_md5)
    if(NOT win_md5 STREQUAL native_md5)
      message(SEND_ERROR "${label}: decoded frames differ")
    endif()
  endif()
endfunction()
