# Tests under Wine.
#
# Every test runs through testing/wine/winerun (the cross-compiling emulator) in the build tree's own
# prefix (32-bit, or 64-bit for the 64-bit build). The ctest fixture "wine" makes a fresh prefix from the template and starts one
# persistent wineserver before the first test, and ends that server after the last one.
#
#   wine_add_gtest(<target>
#       SOURCES <file>...            test sources (GoogleTest)
#       [LIBS <lib>...]              libraries to link besides testsupport and GoogleTest
#       VERSIONS <version>...        Windows versions to run every case under: win95 win98 winme
#                                    nt351 nt40 win2k winxp (each case becomes <version>/<Suite.Case>)
#       [PORT_PAIRS <n>]             connected COM-port pairs made for each case (WINETEST_PORTS)
#       [LOCK <name>...]             ctest RESOURCE_LOCK, for cases that share named resources
#                                    (e.g. a program whose Windows version they set, files or
#                                    keys they assert on): a case holds every name it lists
#       [TIMEOUT <seconds>]          per case, default 60
#       [COST <n>]                   ctest COST: cases that take minutes start first on a tree
#                                    without timings of an earlier run
#       [ENVIRONMENT <NAME=VALUE>...] variables set for the program under Wine, e.g.
#                                    WINEDLLOVERRIDES=tapi32=n to load a stand-in beside the program
#                                    in place of Wine's own library (added to the harness's own
#                                    overrides; values without blanks)
#       [SERIAL]                     run each case with no other test beside it (ctest RUN_SERIAL),
#                                    for cases that start services and COM servers
#       [OWN_PREFIX]                 run each case in a throw-away prefix with its own wineserver
#                                    and an empty HOME (programs that delete or search drives)
#       [DRIVES <letter>...]         with OWN_PREFIX: each drive letter (DRIVES D) is an empty
#                                    folder of the case's own, outside drive C:
#       [CASES <version> <filter>...]) the cases registered under <version>: a GoogleTest filter
#                                    ("Suite.A*:Other.*", "-Suite.B*"); a version without one
#                                    registers every case. So a case that is about some versions
#                                    only is counted only where it runs, never as a skip.
#
#   wine_add_test(<name> VERSION <version> [PORT_PAIRS <n>] [LOCK <name>...] [TIMEOUT <s>]
#                 [ENVIRONMENT <NAME=VALUE>...] COMMAND <target> [args...])
#                                    one plain test program (exit code 0 passes)

include(GoogleTest)

set(WINETEST_SESSION ${CMAKE_SOURCE_DIR}/testing/wine/session)
set(WINETEST_VERSIONS win31 win95 win98 winme nt351 nt40 win2k winxp)

add_test(NAME wine.session.start COMMAND ${WINETEST_SESSION} start ${WINETEST_ROOT})
set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
add_test(NAME wine.session.stop COMMAND ${WINETEST_SESSION} stop ${WINETEST_ROOT})
set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# The whole per-test setting travels in the one variable WINETEST (a list-valued ENVIRONMENT
# property would not survive gtest_discover_tests): winerun takes it apart again.
function(_winetest_env out version pairs)
  foreach(v ${version})
    if(NOT v IN_LIST WINETEST_VERSIONS)
      message(FATAL_ERROR "unknown Windows version '${v}' (one of: ${WINETEST_VERSIONS})")
    endif()
  endforeach()
  set(text "WINETEST=version=${version} ports=${pairs}")
  foreach(var ${ARGN})
    if(NOT var MATCHES "^[A-Za-z_][A-Za-z0-9_]*=[^ \t]*$")
      message(FATAL_ERROR "ENVIRONMENT entry '${var}': NAME=VALUE without blanks")
    endif()
    string(APPEND text " env=${var}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(wine_add_gtest target)
  cmake_parse_arguments(T "SERIAL;OWN_PREFIX" "PORT_PAIRS;TIMEOUT;COST" "SOURCES;LIBS;VERSIONS;ENVIRONMENT;DRIVES;CASES;LOCK"
                        ${ARGN})
  if(T_DRIVES AND NOT T_OWN_PREFIX)
    message(FATAL_ERROR "wine_add_gtest(${target}): DRIVES needs OWN_PREFIX")
  endif()
  if(NOT T_VERSIONS)
    message(FATAL_ERROR "wine_add_gtest(${target}): VERSIONS is required (Wine's default is none of ours)")
  endif()
  if(NOT T_PORT_PAIRS)
    set(T_PORT_PAIRS 0)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  # Every case is labelled with the top folder it lives in (ctest -L portbridge).
  file(RELATIVE_PATH area ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" area "${area}")
  add_executable(${target} ${T_SOURCES})
  suite_target(${target})
  target_link_libraries(${target} PRIVATE testsupport ${T_LIBS} GTest::gtest GTest::gmock testsupport_main)
  list(LENGTH T_CASES cases_length)
  math(EXPR cases_odd "${cases_length} % 2")
  if(cases_odd)
    message(FATAL_ERROR "wine_add_gtest(${target}): CASES takes pairs of a version and a filter")
  endif()
  set(i 0)
  while(i LESS cases_length)
    list(GET T_CASES ${i} cases_version)
    if(NOT cases_version IN_LIST T_VERSIONS)
      message(FATAL_ERROR "wine_add_gtest(${target}): CASES names '${cases_version}', which is not in VERSIONS")
    endif()
    math(EXPR i "${i} + 2")
  endwhile()
  foreach(version ${T_VERSIONS})
    _winetest_env(env ${version} ${T_PORT_PAIRS} ${T_ENVIRONMENT})
    if(T_OWN_PREFIX)
      string(APPEND env " prefix=own")
      foreach(d ${T_DRIVES})
        string(APPEND env " drive=${d}")
      endforeach()
    endif()
    set(filter "*")
    set(i 0)
    while(i LESS cases_length)
      list(GET T_CASES ${i} cases_version)
      math(EXPR j "${i} + 1")
      if(cases_version STREQUAL version)
        list(GET T_CASES ${j} filter)
      endif()
      math(EXPR i "${i} + 2")
    endwhile()
    set(props FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}" LABELS ${area})
    if(T_SERIAL)
      list(APPEND props RUN_SERIAL TRUE)
    endif()
    if(T_COST)
      list(APPEND props COST ${T_COST})
    endif()
    set(cases ${target}_${version}_TESTS)
    gtest_discover_tests(${target}
      TEST_PREFIX "${version}/"
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      TEST_FILTER "${filter}"
      TEST_LIST ${cases}
      PROPERTIES ${props})
    if(T_LOCK)
      # A list-valued property loses its separators on the way through gtest_discover_tests'
      # PROPERTIES, so the locks are set by a file of their own, which ctest reads after the file
      # that adds the discovered cases (and names them in ${cases}).
      set(lock_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_${version}_locks.cmake)
      file(WRITE ${lock_file}
        "if(DEFINED ${cases} AND NOT \"\${${cases}}\" STREQUAL \"\")\n"
        "  set_tests_properties(\${${cases}} PROPERTIES RESOURCE_LOCK \"${T_LOCK}\")\n"
        "endif()\n")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${lock_file})
    endif()
  endforeach()
endfunction()

function(wine_add_test name)
  cmake_parse_arguments(T "" "VERSION;PORT_PAIRS;TIMEOUT" "COMMAND;ENVIRONMENT;LOCK" ${ARGN})
  if(NOT T_VERSION)
    message(FATAL_ERROR "wine_add_test(${name}): VERSION is required")
  endif()
  if(NOT T_PORT_PAIRS)
    set(T_PORT_PAIRS 0)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  _winetest_env(env ${T_VERSION} ${T_PORT_PAIRS} ${T_ENVIRONMENT})
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
  if(T_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCK}")
  endif()
endfunction()
