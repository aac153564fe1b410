# The drift check of the committed bitmap fonts: runs mkfonts into a fresh
# folder and requires every file to equal its committed copy byte for byte.
#   cmake -DMKFONTS=<mkfonts> -DEXPECTED_DIR=<data/fonts> -DWORK_DIR=<scratch> -P compare_fonts.cmake
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${MKFONTS} ${WORK_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "mkfonts failed (${status})")
endif()
set(drifted)
foreach(font CHAR8X8.BIN CHAR12X12.FNT CHAR16X16.FNT)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                  ${WORK_DIR}/${font} ${EXPECTED_DIR}/${font}
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    list(APPEND drifted ${font})
  endif()
endforeach()
if(drifted)
  message(FATAL_ERROR
    "${drifted} in ${EXPECTED_DIR} differ from what mkfonts draws now. "
    "If the change is intended (a new recipe, new fonts or FreeType), look at "
    "the glyphs with 'mkfonts --show 8|12|16' and regenerate the files with: "
    "${MKFONTS} ${EXPECTED_DIR}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
