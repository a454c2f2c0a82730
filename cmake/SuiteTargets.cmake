# Compile options shared by every target of the suite.
#
#   suite_target(<target>)  - C++17, ANSI Win32 (no UNICODE), warnings as errors.

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
    # The static runtime must not leave a dependency on libwinpthread-1.dll either.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()
