# Helpers shared by every folder's CMakeLists.

# vm_library(NAME [DEPS ...] [EXTRA_SOURCES ...]): a static library of all *.cpp in the
# calling folder, exposing src/ as its include root ("engine/SingleClone.h").
function(vm_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA_SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(APPEND sources ${ARG_EXTRA_SOURCES})
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder still without code: an empty interface keeps the dependency graph whole.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# vm_test(NAME SOURCES ... [LIBS ...]): a GoogleTest executable registered with CTest.
# The Windows cross-build has no GoogleTest: there the unit tests are not built (its own
# test host runs under wine instead).
function(vm_test name)
  if(WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# vm_benchmark(NAME SOURCES ... [LIBS ...]): a Google Benchmark executable.
function(vm_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/bench)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()

# vm_subfolders(): add every folder below the calling one that has a CMakeLists.txt.
function(vm_subfolders)
  file(GLOB dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(dir ${dirs})
    if(EXISTS ${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# vm_folder_tests(NAME LIBS ...): all *.cpp of the calling folder as one test executable,
# with VM_SNAPSHOT_DIR pointing at the build tree's snapshot folder for PNG renders.
# Native only: the Windows cross-build is tested through its own host under wine.
function(vm_folder_tests name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(WIN32 OR NOT sources)
    return()
  endif()
  vm_test(${name} SOURCES ${sources} LIBS ${ARG_LIBS})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "VM_SNAPSHOT_DIR=${CMAKE_BINARY_DIR}/snapshots")
endfunction()

# Runs a Windows program under wine and makes sure it ends (tests/windows/run_wine.sh).
set(VM_WINE_RUN ${PROJECT_SOURCE_DIR}/tests/windows/run_wine.sh)

# vm_wine_test(TEST... [TIMEOUT SECONDS]): the tests that run Windows programs under wine
# share one wine prefix inside the build tree and never run at the same time. Wine starts
# one server and one desktop process per prefix, inheriting the first program's
# environment: a headless test starting them while a windowed test starts under its own
# virtual X server leaves the windowed one without a display, and its windows are never
# made. The prefix is made once, with wine's crash dialog off (it would wait for a person
# and turn a crash into a hang), by a fixture every wine test requires. Each test has a
# timeout of its own (120 s unless given), well below CTest's default. Wine's report of an
# unhandled exception fails a test whatever the exit status: once the crash handler has
# printed its backtrace the program is ended, by a race, with the fault's status or 0.
function(vm_wine_test)
  cmake_parse_arguments(ARG "" "TIMEOUT" "" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  get_property(prefix_made GLOBAL PROPERTY VM_WINE_PREFIX_FIXTURE)
  if(NOT prefix_made)
    set_property(GLOBAL PROPERTY VM_WINE_PREFIX_FIXTURE ON)
    add_test(NAME wine_prefix_setup COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows/wine_prefix.sh)
    set_tests_properties(wine_prefix_setup PROPERTIES
      FIXTURES_SETUP wine_prefix RESOURCE_LOCK wine TIMEOUT 240
      ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix")
  endif()
  foreach(test ${ARG_UNPARSED_ARGUMENTS})
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix")
    set_tests_properties(${test} PROPERTIES
      RESOURCE_LOCK wine FIXTURES_REQUIRED wine_prefix TIMEOUT ${ARG_TIMEOUT}
      FAIL_REGULAR_EXPRESSION "Unhandled exception|wine: Unhandled")
  endforeach()
endfunction()
