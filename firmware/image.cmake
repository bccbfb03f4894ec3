# The adapter firmware image compiled into clarow as a Qt resource (":/firmware/varnex.hex").
#
# By default the build makes the project's stand-in image with firmware/make-standin-image.py;
# a packager names the adapter maker's image with -DCLAROW_FIRMWARE_IMAGE=/path/to/image.hex.
# Either way check-firmware-image refuses a file that is not exactly 837 sound records ending
# with the end-of-file record, and the build stops there.

set(CLAROW_FIRMWARE_IMAGE "" CACHE FILEPATH
    "Intel HEX firmware image (837 records) to build into clarow instead of the stand-in image")

find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_executable(check-firmware-image
  ${CMAKE_SOURCE_DIR}/firmware/imagecheck/main.cpp
  ${CMAKE_SOURCE_DIR}/firmware/HexImage.cpp)
target_include_directories(check-firmware-image PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(check-firmware-image PRIVATE Qt6::Core)

set(CLAROW_STANDIN_IMAGE ${CMAKE_BINARY_DIR}/firmware/standin.hex)
add_custom_command(
  OUTPUT ${CLAROW_STANDIN_IMAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/firmware
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/firmware/make-standin-image.py ${CLAROW_STANDIN_IMAGE}
  DEPENDS ${CMAKE_SOURCE_DIR}/firmware/make-standin-image.py
  COMMENT "Making the stand-in firmware image")

if(CLAROW_FIRMWARE_IMAGE)
  get_filename_component(firmware_source ${CLAROW_FIRMWARE_IMAGE} ABSOLUTE)
else()
  set(firmware_source ${CLAROW_STANDIN_IMAGE})
endif()

set(CLAROW_BUILT_IMAGE ${CMAKE_BINARY_DIR}/firmware/varnex.hex)
add_custom_command(
  OUTPUT ${CLAROW_BUILT_IMAGE}
  COMMAND check-firmware-image ${firmware_source} ${CLAROW_BUILT_IMAGE}
  DEPENDS check-firmware-image ${firmware_source}
  COMMENT "Checking the firmware image ${firmware_source}")
set_source_files_properties(${CLAROW_BUILT_IMAGE} PROPERTIES QT_RESOURCE_ALIAS varnex.hex)
qt_add_resources(clarow_core firmware_image PREFIX /firmware FILES ${CLAROW_BUILT_IMAGE})
