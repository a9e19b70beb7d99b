# Native (Linux) build: portable modules, their tests, the packager, benchmarks.
find_package(GTest REQUIRED)
find_package(JPEG REQUIRED)
target_link_libraries(portable PUBLIC JPEG::JPEG)

add_library(native_support STATIC ${NATIVE_SOURCES})
target_link_libraries(native_support PUBLIC portable)

include(cmake/tools.cmake)

file(GLOB NATIVE_TESTS CONFIGURE_DEPENDS tests/native/*.cpp tests/native/support/*.cpp)
if(NATIVE_TESTS)
  add_executable(native_tests ${NATIVE_TESTS})
  target_link_libraries(native_tests PRIVATE native_support implode GTest::gtest_main)
  foreach(tool saverpack_lib sample_saver_rules)
    if(TARGET ${tool})
      target_link_libraries(native_tests PRIVATE ${tool})
    endif()
  endforeach()
  target_compile_definitions(native_tests PRIVATE TEST_FIXTURES_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures"
                             SOURCE_ROOT_DIR="${CMAKE_SOURCE_DIR}")
  # The fuzz harnesses, for the replay of their corpora (fuzz_corpus_test.cpp).
  target_sources(native_tests PRIVATE tests/fuzz/harnesses.cpp)
  # The implode library's encoder (the library itself is Windows only).
  target_sources(native_tests PRIVATE tools/impborl/stream_implode.cpp)
  target_compile_definitions(native_tests PRIVATE FUZZ_CORPUS_DIR="${CMAKE_SOURCE_DIR}/tests/fuzz/corpus")
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator (the i386 build runs in qemu-i386) one process for
    # the whole suite: a start per case costs about half a second.
    add_test(NAME native_tests COMMAND native_tests --gtest_brief=1)
    set_tests_properties(native_tests PROPERTIES TIMEOUT 900)
  else()
    include(GoogleTest)
    gtest_discover_tests(native_tests DISCOVERY_TIMEOUT 60)
  endif()
endif()

file(GLOB BENCHES CONFIGURE_DEPENDS bench/*.cpp)
list(FILTER BENCHES EXCLUDE REGEX "_win32\\.cpp$")  # Windows benchmarks: cmake/wintests.cmake
foreach(b ${BENCHES})
  get_filename_component(name ${b} NAME_WE)
  add_executable(${name} ${b})
  target_link_libraries(${name} PRIVATE native_support implode)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endforeach()
