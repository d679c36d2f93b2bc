# Builds each probe of the core's order: a source of one folder's library that includes a
# header of the folder above it. Every probe must fail, and for that reason alone: the header
# is not on the library's include path. Run by ctest with BUILD_DIR and PROBES (pairs
# layer:above).
foreach(pair IN LISTS PROBES)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 layer)
  list(GET pair 1 above)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target layer_probe_${layer}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(result EQUAL 0)
    message(FATAL_ERROR "${layer}/ includes from ${above}/ and still builds")
  endif()
  # GCC's and Clang's words for a header that is not on the include path.
  if(NOT output MATCHES "${above}/[a-z_]+\\.h'?(: No such file or directory| file not found)")
    message(FATAL_ERROR "The ${layer} probe failed for another reason:\n${output}")
  endif()
  message(STATUS "${layer}/ cannot include ${above}/")
endforeach()
