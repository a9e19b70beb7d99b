# Windows tests: GoogleTest cross-built from Debian's sources.  The x86_64
# build runs under wine64 through CMAKE_CROSSCOMPILING_EMULATOR (set by the
# win64 preset); scripts/test runs the i686 build under 32-bit Wine itself.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# The mingw "win32" thread flavour has no std::mutex, which GoogleTest's
# Notification uses: a port hook found before GoogleTest's own supplies one.
target_include_directories(gtest BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/tests/win/support/gtest_port)

file(GLOB WIN_FIXTURE_DIRS CONFIGURE_DEPENDS LIST_DIRECTORIES true tests/fixtures/*)
foreach(dir ${WIN_FIXTURE_DIRS})
  if(EXISTS ${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()

# A folder link for the work-folder tests (a junction stand-in under Wine).
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test_links/link_target)
file(CREATE_LINK ${CMAKE_BINARY_DIR}/test_links/link_target ${CMAKE_BINARY_DIR}/test_links/linked_base SYMBOLIC)

file(GLOB WIN_TEST_SOURCES CONFIGURE_DEPENDS tests/win/*.cpp tests/win/support/*.cpp)
if(WIN_TEST_SOURCES)
  add_executable(win_tests ${WIN_TEST_SOURCES} resources/installer.rc)
  target_link_libraries(win_tests PRIVATE installer_core implode gtest_main)
  target_link_options(win_tests PRIVATE -static)
  if(TARGET sample_saver)
    add_dependencies(win_tests sample_saver)  # installed and run by the tests
  endif()
  if(TARGET impborl)
    add_dependencies(win_tests impborl)  # loaded by impborl_test.cpp
  endif()
  target_compile_definitions(win_tests PRIVATE
    TEST_FIXTURES_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures"
    TEST_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    # One process under Wine: starting a Wine process per test case costs ~1 s each.
    add_test(NAME win_tests COMMAND win_tests --gtest_brief=1)
    # A bound only: with every core busy (scripts/test --under-load) the suite
    # takes several times as long as on an idle machine.
    set_tests_properties(win_tests PROPERTIES TIMEOUT 3600)
  endif()
endif()

# Benchmarks that need Windows (bench/*_win32.cpp), with the tests' UI driver:
# programs that print figures, built into bench/ and run by hand.
file(GLOB WIN_BENCHES CONFIGURE_DEPENDS bench/*_win32.cpp)
foreach(b ${WIN_BENCHES})
  get_filename_component(name ${b} NAME_WE)
  string(REGEX REPLACE "_win32$" "" name ${name})
  add_executable(${name} ${b} tests/win/support/ui_driver.cpp resources/installer.rc)
  # (installer_core and portable refer to each other: named twice.)
  target_link_libraries(${name} PRIVATE installer_core portable installer_core)
  target_link_options(${name} PRIVATE -static)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endforeach()
