# Libraries that scripts/setup builds once per machine for the Windows
# targets live in the user's cache folder, outside every checkout:
#   ${XDG_CACHE_HOME:-~/.cache}/clipsalvage/NAME-VERSION-TRIPLE-gccCOMPILER-RECIPE
# where RECIPE is the first 8 hex digits of the SHA-256 of the file that says
# how the library is built, so a changed recipe is never mixed up with an
# older build. The newest version that holds MARKER wins.
include_guard(GLOBAL)

# Sets VAR (unless it is already set) to that folder and checks that it holds
# MARKER (a path inside it); configures again when RECIPE_FILE changes.
function(clipsalvage_cached_build VAR NAME RECIPE_FILE MARKER)
  if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(cache "$ENV{XDG_CACHE_HOME}/clipsalvage")
  else()
    set(cache "$ENV{HOME}/.cache/clipsalvage")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${RECIPE_FILE}")
  set(root "${${VAR}}")
  if(NOT root)
    execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpversion OUTPUT_VARIABLE compiler_version
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(SHA256 "${RECIPE_FILE}" recipe)
    string(SUBSTRING "${recipe}" 0 8 recipe)
    file(GLOB candidates LIST_DIRECTORIES true
         "${cache}/${NAME}-*-${MINGW_TRIPLE}-gcc${compiler_version}-${recipe}")
    list(SORT candidates COMPARE NATURAL ORDER DESCENDING)
    foreach(candidate IN LISTS candidates)
      if(EXISTS "${candidate}/${MARKER}")
        set(root "${candidate}")
        break()
      endif()
    endforeach()
  endif()
  if(NOT root OR NOT EXISTS "${root}/${MARKER}")
    message(FATAL_ERROR "${NAME} for ${MINGW_TRIPLE} not found in ${cache}: run scripts/setup")
  endif()
  message(STATUS "${NAME}: ${root}")
  set(${VAR} "${root}" PARENT_SCOPE)
endfunction()
