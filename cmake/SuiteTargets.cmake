# Compile options shared by every target of the suite.
#
#   suite_target(<target>)  - C++17, ANSI Win32 (no UNICODE), warnings as errors; in a test build
#                             (SUITE_CRASH_GUARD), every program and DLL also gets the crash guard.
#
# SUITE_CRASH_GUARD (off unless asked for; scripts/build.sh asks for it, since its trees are the
# ones the tests and the demo run): a fault in our code ends the process at once with a line that
# names it, also where Wine would catch it and go on (testing/crashguard/crash_guard.c). A product
# build is configured without it and keeps the platform's own behaviour.
option(SUITE_CRASH_GUARD "End a process at once when our code faults (test builds)" OFF)

add_library(suite_options INTERFACE)
target_compile_options(suite_options INTERFACE
  $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror>)
target_compile_definitions(suite_options INTERFACE
  WINVER=0x0501 _WIN32_WINNT=0x0501 _WIN32_IE=0x0500 NOMINMAX STRICT)
target_compile_features(suite_options INTERFACE cxx_std_17)

function(suite_target target)
  target_link_libraries(${target} PRIVATE suite_options)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    if(SUITE_CRASH_GUARD)
      target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/testing/crashguard/crash_guard.c)
    endif()
    # The static runtime must not leave a dependency on libwinpthread-1.dll either.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()
