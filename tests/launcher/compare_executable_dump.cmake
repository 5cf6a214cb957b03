# The whole image inside Tessel.exe: `tessel-image dump` of the executable finds it and reads the
# same as the dump of the image the build tool wrote (the stubs' jump targets are not printed).
# cmake -DTOOL=... -DEXECUTABLE=... -DIMAGE=... -P compare_executable_dump.cmake
execute_process(COMMAND ${TOOL} dump ${EXECUTABLE} OUTPUT_VARIABLE inside RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tessel-image dump ${EXECUTABLE} failed: ${rc}")
endif()
execute_process(COMMAND ${TOOL} dump ${IMAGE} OUTPUT_VARIABLE built RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tessel-image dump ${IMAGE} failed: ${rc}")
endif()
if(NOT inside MATCHES "^image found at file offset [0-9]+\n")
  message(FATAL_ERROR "no image found in ${EXECUTABLE}:\n${inside}")
endif()
string(REGEX REPLACE "^image found at file offset [0-9]+\n" "" inside "${inside}")
if(NOT inside STREQUAL built)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/executable_dump.txt "${inside}")
  message(FATAL_ERROR "the image in ${EXECUTABLE} differs from ${IMAGE}: see executable_dump.txt")
endif()
