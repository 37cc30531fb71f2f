# A bake that cannot be made must stop the build and leave the table it would replace as it
# was: a build never compiles a half-written table as if it were new.
#   cmake -DBAKER=pfad-glyph-baker -DFONT=DejaVuSans.ttf -DWORK=DIR -P glyph_baker_test.cmake
file(REMOVE_RECURSE ${WORK})
file(WRITE ${WORK}/table.cpp "earlier table\n")

function(expect_failure status said)
  execute_process(COMMAND ${BAKER} ${ARGN} RESULT_VARIABLE got ERROR_VARIABLE error)
  if(NOT got STREQUAL status OR NOT error MATCHES "${said}")
    message(FATAL_ERROR "pfad-glyph-baker ${ARGN}: status ${got} (not ${status}), said: ${error}")
  endif()
endfunction()

# status, what stderr says, the arguments
expect_failure(2 "usage" ${FONT})
expect_failure(1 "is no font FreeType can open" ${CMAKE_CURRENT_LIST_FILE} ${WORK}/table.cpp)
expect_failure(1 "cannot write" ${FONT} ${WORK}/missing/table.cpp)

file(READ ${WORK}/table.cpp table)
file(GLOB left RELATIVE ${WORK} ${WORK}/*)
if(NOT table STREQUAL "earlier table\n" OR NOT left STREQUAL "table.cpp")
  message(FATAL_ERROR "a failed bake touched the earlier table or left files: ${left}")
endif()
