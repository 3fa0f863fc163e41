# Configures (once) and builds the native fuzz tree: cmake -DSOURCE=... -DBINARY=... -DCXX=... -P this file.
if(NOT CXX)
  message(FATAL_ERROR "no clang++ found: the fuzz targets need clang and libclang-rt-14-dev")
endif()
if(NOT EXISTS ${BINARY}/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY}
                          -DCMAKE_CXX_COMPILER=${CXX}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring the fuzz targets failed")
  endif()
endif()
include(ProcessorCount)
ProcessorCount(jobs)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} -j${jobs} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building the fuzz targets failed")
endif()
