# Tests of what a user installs and where it runs: the Debian package (label "package"),
# and the programs on real display servers and PipeWire (label "desktop"). They run the
# release programs, so the sanitizer flavours leave them out.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _deb_arch
  OUTPUT_STRIP_TRAILING_WHITESPACE)
set(_package_dir ${CMAKE_BINARY_DIR}/package-test)

# CPack makes the package from the build, as scripts/package does.
add_test(NAME package_build
  COMMAND sh -c "rm -rf '${_package_dir}' && '${CMAKE_CPACK_COMMAND}' -B '${_package_dir}' >'${CMAKE_BINARY_DIR}/package-test.log' 2>&1 || { cat '${CMAKE_BINARY_DIR}/package-test.log'; exit 1; }"
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
set_tests_properties(package_build PROPERTIES FIXTURES_SETUP deb LABELS package TIMEOUT 300)
add_test(NAME package_lintian
  COMMAND lintian --fail-on error ${_package_dir}/quorvex_${PROJECT_VERSION}_${_deb_arch}.deb)
set_tests_properties(package_lintian PROPERTIES FIXTURES_REQUIRED deb LABELS package TIMEOUT 300)

file(GLOB _package_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/package/*.cpp)
add_executable(package_tests ${_package_sources})
target_link_libraries(package_tests PRIVATE GTest::gtest GTest::gtest_main qv_test_support)
target_include_directories(package_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(package_tests PRIVATE QV_PACKAGE_DIR="${_package_dir}"
  QV_VERSION="${PROJECT_VERSION}" QV_DEB_ARCH="${_deb_arch}")
gtest_discover_tests(package_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS package FIXTURES_REQUIRED deb TIMEOUT 120
  ENVIRONMENT "QUORVEX_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp")

file(GLOB _desktop_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/desktop/*.cpp)
add_executable(desktop_tests ${_desktop_sources})
target_link_libraries(desktop_tests PRIVATE Qt6::Widgets GTest::gtest qv_test_support)
target_include_directories(desktop_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(desktop_tests PRIVATE
  QV_QUORVEX_PATH="$<TARGET_FILE:quorvex>" QV_ANALYZE_PATH="$<TARGET_FILE:quorvex-analyze>"
  QV_TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}" QV_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
add_dependencies(desktop_tests quorvex quorvex-analyze)
# Each runs alone: they start display servers and PipeWire graphs that follow real time.
# With other tests beside it (a load of about 4 on two cores), PipeWire's ALSA path fed the
# analyser nothing but silence for a whole run in 9 of 44 runs; alone, in 1 of 9.
gtest_discover_tests(desktop_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS desktop TIMEOUT 120 RUN_SERIAL TRUE
  ENVIRONMENT "QUORVEX_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp")
