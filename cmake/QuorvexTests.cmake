# qv_add_test_dir(<name> DIR <dir> LIBS <libs...> [CONCURRENCY] [LABELS <label>] [MAIN <file>])
# Builds every *.cpp of DIR into one GoogleTest program; MAIN replaces gtest's own main
# (the GUI programs start a QApplication first). Under ThreadSanitizer only the
# programs marked CONCURRENCY are built, since only they exercise threads that race.
function(qv_add_test_dir name)
  cmake_parse_arguments(T "CONCURRENCY" "DIR;MAIN" "LIBS;LABELS" ${ARGN})
  if(QV_SANITIZE MATCHES "thread" AND NOT T_CONCURRENCY)
    return()
  endif()
  file(GLOB _sources CONFIGURE_DEPENDS ${T_DIR}/*.cpp)
  if(NOT _sources)
    return()
  endif()
  if(T_MAIN)
    add_executable(${name} ${_sources} ${T_MAIN})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  else()
    add_executable(${name} ${_sources})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE qv_test_support)
  if(QV_UNITY_TESTS)
    # Test files are compiled a few at a time: most of a test file's compile time is spent
    # reading GoogleTest's and Qt's headers, which a batch reads once.
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 6)
  endif()
  if(QV_SANITIZE)
    # The tests' own code is compiled without optimisation under the sanitizers: the code
    # under test keeps its -O1, and the tests compile about a fifth faster.
    target_compile_options(${name} PRIVATE -O0)
  endif()
  if(QV_SANITIZE MATCHES "address")
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/KeepLoadedModules.cpp)
  endif()
  # One label per program: gtest_discover_tests cannot pass a list of them.
  set(_labels ${T_LABELS})
  if(T_CONCURRENCY)
    set(_labels concurrency)
  endif()
  if(NOT _labels)
    set(_labels unit)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${_labels}" TIMEOUT 300
    ENVIRONMENT "QUORVEX_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp")
endfunction()
