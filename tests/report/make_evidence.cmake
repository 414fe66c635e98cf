# Evidence for the Win32 report tests, made with the Linux tools before they
# run under Wine: a random image, its evidence file in segments of 1 MiB (in a
# folder with a Chinese name), the same set with its middle segment missing,
# the number of segments made, the image's MD5 and SHA-1, and a mapfile beside
# the image.
#
#   cmake -DWORK=dir -P make_evidence.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
set(evidence ${WORK}/证据)
file(MAKE_DIRECTORY ${evidence} ${WORK}/missing)
execute_process(COMMAND head -c 3211264 /dev/urandom OUTPUT_FILE ${WORK}/image.img RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not write the image")
endif()
execute_process(COMMAND ewfacquire -u -q -d sha1 -c deflate:fast -S 1048576 -t ${evidence}/ev ${WORK}/image.img
                INPUT_FILE /dev/null RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS ${evidence}/ev.E03)
  message(FATAL_ERROR "ewfacquire failed (${rc}): ${out}")
endif()
# The number of segments depends on how the random image compresses.
file(GLOB segments ${evidence}/ev.E*)
list(LENGTH segments segment_count)
file(WRITE ${WORK}/segments.txt "${segment_count}")
file(MD5 ${WORK}/image.img md5)
file(SHA1 ${WORK}/image.img sha1)
file(WRITE ${WORK}/hashes.txt "${md5} ${sha1}")
file(COPY ${evidence}/ev.E01 ${evidence}/ev.E03 DESTINATION ${WORK}/missing)
# Sectors 100 to 107 not recovered, the rest finished.
file(WRITE ${WORK}/image.img.map
  "# mapfile\n0x00000000     +               1\n"
  "0x00000000  0x0000C800  +\n0x0000C800  0x00001000  -\n0x0000D800  0x0030A800  +\n")
