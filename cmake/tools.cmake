# The implode encoder library and the packager, built for every target.
file(GLOB IMPLODE_SOURCES CONFIGURE_DEPENDS tools/implode/*.cpp)
if(IMPLODE_SOURCES)
  add_library(implode STATIC ${IMPLODE_SOURCES})
  target_link_libraries(implode PUBLIC portable)
else()
  add_library(implode INTERFACE)
endif()

# The packager: a library of its commands (linked by the native tests too)
# and a thin main.  *_win32.cpp go into the Windows build, *_posix.cpp into
# the native one.
file(GLOB SAVERPACK_SOURCES CONFIGURE_DEPENDS tools/saverpack/*.cpp)
list(FILTER SAVERPACK_SOURCES EXCLUDE REGEX "/main\\.cpp$")
if(WIN32)
  list(FILTER SAVERPACK_SOURCES EXCLUDE REGEX "_posix\\.cpp$")
else()
  list(FILTER SAVERPACK_SOURCES EXCLUDE REGEX "_win32\\.cpp$")
endif()
if(SAVERPACK_SOURCES)
  # Debian's header-only CLI11 and nlohmann-json, reached through links of
  # their own so the cross compilers never see the rest of /usr/include.
  set(SAVERPACK_THIRD_PARTY ${CMAKE_BINARY_DIR}/third_party/include)
  file(MAKE_DIRECTORY ${SAVERPACK_THIRD_PARTY})
  foreach(dir CLI nlohmann)
    if(NOT EXISTS ${SAVERPACK_THIRD_PARTY}/${dir})
      file(CREATE_LINK /usr/include/${dir} ${SAVERPACK_THIRD_PARTY}/${dir} SYMBOLIC)
    endif()
  endforeach()
  add_library(saverpack_lib STATIC ${SAVERPACK_SOURCES})
  target_include_directories(saverpack_lib SYSTEM PUBLIC ${SAVERPACK_THIRD_PARTY})
  target_link_libraries(saverpack_lib PUBLIC portable implode)
  add_executable(saverpack tools/saverpack/main.cpp)
  target_link_libraries(saverpack PRIVATE saverpack_lib)
  if(WIN32)
    target_link_options(saverpack PRIVATE -static -s)
  endif()
endif()

# The sample screen saver: its portable rules (tested natively) and, in the
# Windows builds, the program the sample installer carries as its saver.
file(GLOB SAMPLE_SAVER_SOURCES CONFIGURE_DEPENDS tools/sample-saver/*.cpp)
set(SAMPLE_SAVER_WIN32_SOURCES ${SAMPLE_SAVER_SOURCES})
list(FILTER SAMPLE_SAVER_SOURCES EXCLUDE REGEX "_win32\\.cpp$")
list(FILTER SAMPLE_SAVER_WIN32_SOURCES INCLUDE REGEX "_win32\\.cpp$")
if(SAMPLE_SAVER_SOURCES)
  add_library(sample_saver_rules STATIC ${SAMPLE_SAVER_SOURCES})
  target_link_libraries(sample_saver_rules PUBLIC portable)
  if(WIN32)
    target_compile_options(sample_saver_rules PRIVATE ${SIZE_FLAGS})
    add_executable(sample_saver WIN32 ${SAMPLE_SAVER_WIN32_SOURCES} tools/sample-saver/sample_saver.rc)
    target_compile_options(sample_saver PRIVATE ${SIZE_FLAGS})
    # The installer's own journal and deletion walk, shared with "/u".
    # (installer_core and portable refer to each other: named twice.)
    target_link_libraries(sample_saver PRIVATE sample_saver_rules installer_core portable installer_core shell32 advapi32
                          gdi32 user32 kernel32)
    # No time stamp in the image: the sample is the same bytes on every build.
    target_link_options(sample_saver PRIVATE -static -s -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat
                        -Wl,--no-insert-timestamp)
    set_target_properties(sample_saver PROPERTIES OUTPUT_NAME sample-saver)
  endif()
endif()
