# The Windows export under Wine against the native one: both builds of
# export_tool export every clip of the sample disk and of the disk whose later
# recordings lack their parameter sets. With the same library versions the
# MP4 files must be the same bytes; otherwise the same frame count, duration
# and decoded frames (ffmpeg's framemd5). Either way ffprobe must count the
# reported frames in every Windows file, and the reported SHA-256 must be the
# file's.
#
#   cmake -DRUNNER=wine-env -DWIN_TOOL=export_tool.exe -DNATIVE_TOOL=export_tool
#         -DFFPROBE=... -DFFMPEG=... -DWORK=dir -P same_as_native.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/same_mp4.cmake)

if(NOT EXISTS "${NATIVE_TOOL}")
  message("SKIPPED: no native export_tool at ${NATIVE_TOOL} (scripts/test builds it in build/sanitize)")
  return()
endif()

file(REMOVE_RECURSE ${WORK})
# The Windows side writes below a folder with a Chinese name.
set(win_dir ${WORK}/视频)
set(native_dir ${WORK}/native)
file(MAKE_DIRECTORY ${win_dir} ${native_dir})

string(REPLACE "/" "\\" win_dir_arg "Z:${win_dir}")
execute_process(COMMAND ${RUNNER} run ${WIN_TOOL} ${win_dir_arg}
                OUTPUT_VARIABLE win_out ERROR_VARIABLE win_err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "export_tool.exe failed (${rc}): ${win_err}\n${win_out}")
endif()
execute_process(COMMAND ${NATIVE_TOOL} ${native_dir}
                OUTPUT_VARIABLE native_out ERROR_VARIABLE native_err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "native export_tool failed (${rc}): ${native_err}\n${native_out}")
endif()

# The report's clip lines as "|"-separated records, and its library line.
function(read_report text prefix)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(clips)
  foreach(line IN LISTS lines)
    if(line MATCHES "^library\t(.*)$")
      set(${prefix}_library "${CMAKE_MATCH_1}" PARENT_SCOPE)
    elseif(line MATCHES "^clip\t")
      string(REPLACE "\t" "|" record "${line}")
      list(APPEND clips "${record}")
    endif()
  endforeach()
  set(${prefix}_clips "${clips}" PARENT_SCOPE)
endfunction()

read_report("${win_out}" win)
read_report("${native_out}" native)
list(LENGTH win_clips count)
list(LENGTH native_clips native_count)
if(count EQUAL 0 OR NOT count EQUAL native_count)
  message(FATAL_ERROR "${count} clips under Wine, ${native_count} natively")
endif()
set(same_library OFF)
if(win_library STREQUAL native_library)
  set(same_library ON)
endif()
message(STATUS "Wine [${win_library}], native [${native_library}], ${count} clips")

math(EXPR last "${count} - 1")
set(repaired 0)
foreach(i RANGE ${last})
  list(GET win_clips ${i} w)
  list(GET native_clips ${i} n)
  string(REPLACE "|" ";" w "${w}")
  string(REPLACE "|" ";" n "${n}")
  # clip, disk, name, file, frames, duration, repaired, sha256
  list(GET w 1 disk)
  list(GET w 2 name)
  list(GET w 3 file)
  list(GET w 4 frames)
  list(GET w 6 was_repaired)
  list(GET w 7 sha)
  list(SUBLIST w 1 6 win_fields)
  list(SUBLIST n 1 6 native_fields)
  list(GET n 7 native_sha)
  if(NOT win_fields STREQUAL native_fields)
    message(SEND_ERROR "${disk} ${name}: Wine [${win_fields}], native [${native_fields}]")
  endif()
  math(EXPR repaired "${repaired} + ${was_repaired}")
  set(win_file ${win_dir}/${disk}/${file})
  expect_same_mp4("${disk} ${name}" ${win_file} "${sha}" ${native_dir}/${disk}/${file} "${native_sha}" ${same_library})
  execute_process(COMMAND ${FFPROBE} -v error -count_frames -select_streams v:0
                          -show_entries stream=nb_read_frames -of csv=p=0 ${win_file}
                  OUTPUT_VARIABLE probe ERROR_VARIABLE probe_err)
  if(NOT probe STREQUAL "${frames}\n" OR NOT probe_err STREQUAL "")
    message(SEND_ERROR "${disk} ${name}: ffprobe counts '${probe}' (${probe_err}), the export ${frames}")
  endif()
endforeach()
if(repaired EQUAL 0)
  message(SEND_ERROR "no repaired clip among the exports")
endif()
file(REMOVE_RECURSE ${WORK})
