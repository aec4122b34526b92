# The Windows tree's tests: the host's own suite, cross-built with a GoogleTest built here from Debian's
# source, each test run under Wine (CMAKE_CROSSCOMPILING_EMULATOR) as its own CTest entry.
set(SKORVALE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source (Debian's googletest package)")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${SKORVALE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# One Wine prefix per build tree, made on first use and kept (scripts/wine-run).
set(SKORVALE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "The Wine prefix the tests run in")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run ${SKORVALE_WINEPREFIX})

# Left out, and why:
#  - RunnerTest starts the runner through /bin/sh with POSIX quoting; the runner under Wine is driven by
#    the Linux tree's Wine session test instead, with the same scripts and JSON.
file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/simhost/*.cpp)
list(FILTER sources EXCLUDE REGEX "/RunnerTest\\.cpp$")
add_executable(test_simhost ${sources} ${CMAKE_CURRENT_SOURCE_DIR}/support/Command.cpp)
set_target_properties(test_simhost PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SIMHOST_BIN_DIR})
target_include_directories(test_simhost PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(test_simhost PRIVATE SKORVALE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                           SKORVALE_PLUGIN_PATH="$<TARGET_FILE:simhost_tiny_complete>")
target_link_libraries(test_simhost PRIVATE simhost XPWidgets_64 simhost_opengl32 nlohmann_json::nlohmann_json
                      gmock gtest_main)
add_dependencies(test_simhost simhost_tiny_complete simhost_tiny_partial)
gtest_discover_tests(test_simhost
  WORKING_DIRECTORY ${SIMHOST_BIN_DIR}
  DISCOVERY_TIMEOUT 120
  PROPERTIES LABELS windows TIMEOUT 120)
