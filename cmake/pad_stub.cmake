# Pads the linked stub with zero bytes to its exact size (the package header
# is read at that offset), and fails when the image is already larger.
file(SIZE ${INPUT} linked)
if(linked GREATER SIZE)
  message(FATAL_ERROR "stub image is ${linked} bytes, larger than the ${SIZE} bytes it must fit")
endif()
math(EXPR room "${SIZE} - ${linked}")
message(STATUS "stub: linked image ${linked} bytes, padded to ${SIZE} (${room} bytes to spare)")
file(COPY_FILE ${INPUT} ${OUTPUT})
execute_process(COMMAND truncate -s ${SIZE} ${OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not pad ${OUTPUT}")
endif()
