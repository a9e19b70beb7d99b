# Windows builds (i686: the shipped stub; x86_64: the same sources, tested under wine64).
set(JPEG_ROOT ${CMAKE_SOURCE_DIR}/.deps/libjpeg-${CMAKE_SYSTEM_PROCESSOR})
if(NOT EXISTS ${JPEG_ROOT}/lib/libjpeg.a)
  message(FATAL_ERROR "libjpeg-turbo for ${CMAKE_SYSTEM_PROCESSOR} is missing: run scripts/setup")
endif()
add_library(jpeg_static STATIC IMPORTED)
set_target_properties(jpeg_static PROPERTIES
  IMPORTED_LOCATION ${JPEG_ROOT}/lib/libjpeg.a
  INTERFACE_INCLUDE_DIRECTORIES ${JPEG_ROOT}/include)
target_link_libraries(portable PUBLIC jpeg_static)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(MANIFEST_ARCH X86)
else()
  set(MANIFEST_ARCH amd64)
endif()

# Libraries every Windows takes from its system folder (known DLLs). Anything
# else (comctl32, riched20, version, shfolder) is loaded at run time by full
# path, so that a library planted beside the installer is never picked up.
set(STUB_SYSTEM_LIBS ole32 oleaut32 uuid shell32 advapi32 gdi32 user32 kernel32)

add_library(installer_core STATIC ${WIN32_SOURCES})
target_compile_options(installer_core PRIVATE ${SIZE_FLAGS})
target_link_libraries(installer_core PUBLIC portable ${STUB_SYSTEM_LIBS})

configure_file(resources/installer.manifest.in ${CMAKE_BINARY_DIR}/installer.manifest @ONLY)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -I${CMAKE_BINARY_DIR}")

add_executable(stub_linked WIN32 app/winmain_win32.cpp resources/installer.rc)
target_compile_options(stub_linked PRIVATE ${SIZE_FLAGS})
target_link_libraries(stub_linked PRIVATE installer_core)
target_link_options(stub_linked PRIVATE -static -s -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  # Loads on Windows 95 and NT 4.
  target_link_options(stub_linked PRIVATE
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0)
else()
  target_link_options(stub_linked PRIVATE -Wl,--high-entropy-va)
endif()

# The stub is padded to its exact size; a larger image fails the build.
add_custom_command(TARGET stub_linked POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DINPUT=$<TARGET_FILE:stub_linked> -DOUTPUT=${CMAKE_BINARY_DIR}/stub.exe
          -DSIZE=${INSTALLER_SIZE_IN_BYTES2} -P ${CMAKE_SOURCE_DIR}/cmake/pad_stub.cmake
  VERBATIM)

include(cmake/tools.cmake)

# The implode library (item 1 of every package) has no C++ runtime: no
# exceptions, no RTTI, linked by the C driver so libstdc++ stays out.
file(GLOB IMPBORL_SOURCES CONFIGURE_DEPENDS tools/impborl/*.cpp)
if(IMPBORL_SOURCES)
  add_library(impborl SHARED ${IMPBORL_SOURCES} package/explode.cpp tools/impborl/impborl.def)
  target_compile_options(impborl PRIVATE ${SIZE_FLAGS} -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
  set_target_properties(impborl PROPERTIES PREFIX "" OUTPUT_NAME impborl LINKER_LANGUAGE C)
  target_link_options(impborl PRIVATE -static -s -Wl,--kill-at -Wl,--gc-sections)
endif()

# The Windows tests, for both: the x86_64 build runs under wine64, the i686
# one (against the shipped stub) under 32-bit Wine (scripts/wine32).
include(cmake/wintests.cmake)
