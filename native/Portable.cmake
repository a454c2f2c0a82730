# What the native build compiles: the portable libraries, their unit tests and fuzz targets.
# A decoder joins here once its bytes-level part includes no Windows header.

native_library(n_framework_text ${TOP}/framework/cstring.cpp ${CMAKE_CURRENT_SOURCE_DIR}/cstring_native.cpp)
native_test(n_framework_test
  SOURCES ${TOP}/framework/cstring_test.cpp
  LIBS n_framework_text
  FILTER -CString.LoadsStringTableTexts)

native_library(n_regtext ${TOP}/testing/support/regtext.cpp)
native_test(n_regtext_test SOURCES ${TOP}/testing/tests/regtext_test.cpp LIBS n_regtext)
