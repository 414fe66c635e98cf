# The Windows CLI under Wine against the native CLI: both recover every clip
# of the sample disk whose later recordings lack their parameter sets, with
# --mp4. With the same video library versions every MP4 must be the same
# bytes; otherwise the same frame count, duration and decoded frames
# (ffmpeg's framemd5). Either way the Windows report's hashes must be its
# files', and some clips must have been repaired.
#
#   cmake -DRUNNER=wine-env -DIMAGEGEN=imagegen.exe -DWIN_CLI=clipsalvage-cli.exe
#         -DNATIVE_CLI=clipsalvage -DFFMPEG=... -DWORK=dir -P mp4_same_as_native.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../export/same_mp4.cmake)

if(NOT EXISTS "${NATIVE_CLI}")
  message("SKIPPED: no native CLI at ${NATIVE_CLI} (scripts/test builds it in build/sanitize)")
  return()
endif()

file(REMOVE_RECURSE ${WORK})
# The Windows side writes below a folder with a Chinese name.
set(win_dir ${WORK}/视频)
set(native_dir ${WORK}/native)
set(image ${WORK}/cut.img)
file(MAKE_DIRECTORY ${WORK})

function(win_path out path)
  string(REPLACE "/" "\\" p "Z:${path}")
  set(${out} "${p}" PARENT_SCOPE)
endfunction()
win_path(image_arg ${image})
win_path(win_dir_arg ${win_dir})

execute_process(COMMAND ${RUNNER} run ${IMAGEGEN} ${image_arg} --no-parameter-sets
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "imagegen failed (${rc}): ${err}")
endif()
execute_process(COMMAND ${RUNNER} run ${WIN_CLI} recover ${image_arg} --out ${win_dir_arg} --mp4 --json
                OUTPUT_VARIABLE win_out ERROR_VARIABLE win_err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "clipsalvage-cli.exe failed (${rc}): ${win_err}\n${win_out}")
endif()
execute_process(COMMAND ${NATIVE_CLI} recover ${image} --out ${native_dir} --mp4 --json
                OUTPUT_VARIABLE native_out ERROR_VARIABLE native_err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "native clipsalvage failed (${rc}): ${native_err}\n${native_out}")
endif()

string(JSON win_library GET "${win_out}" mp4_library)
string(JSON native_library GET "${native_out}" mp4_library)
string(JSON count LENGTH "${win_out}" files)
string(JSON native_count LENGTH "${native_out}" files)
if(count EQUAL 0 OR NOT count EQUAL native_count)
  message(FATAL_ERROR "${count} files under Wine, ${native_count} natively")
endif()
message(STATUS "Wine [${win_library}], native [${native_library}], ${count} clips")

math(EXPR last "${count} - 1")
set(repaired 0)
foreach(i RANGE ${last})
  foreach(key name frames duration_s repaired mp4_sha256)
    string(JSON w_${key} GET "${win_out}" files ${i} ${key})
    string(JSON n_${key} GET "${native_out}" files ${i} ${key})
  endforeach()
  foreach(key name frames duration_s repaired)
    if(NOT w_${key} STREQUAL n_${key})
      message(SEND_ERROR "${w_name}: ${key} ${w_${key}} under Wine, ${n_${key}} natively")
    endif()
  endforeach()
  if(w_repaired)
    math(EXPR repaired "${repaired} + 1")
  endif()
  # The Windows report names its file by its Windows path.
  string(JSON w_path GET "${win_out}" files ${i} mp4_path)
  string(JSON n_path GET "${native_out}" files ${i} mp4_path)
  string(REGEX REPLACE ".*[/\\]" "" w_file "${w_path}")
  set(same_library OFF)
  if(win_library STREQUAL native_library)
    set(same_library ON)
  endif()
  expect_same_mp4(${w_name} ${win_dir}/${w_file} "${w_mp4_sha256}" ${n_path} "${n_mp4_sha256}" ${same_library})
endforeach()
if(repaired EQUAL 0)
  message(SEND_ERROR "no repaired clip among the exports")
endif()
file(REMOVE_RECURSE ${WORK})
