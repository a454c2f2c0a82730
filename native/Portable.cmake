# What the native build compiles: the portable libraries, their unit tests and fuzz targets.
# A decoder joins here once its bytes-level part includes no Windows header.

native_library(n_framework_text ${TOP}/framework/cstring.cpp ${CMAKE_CURRENT_SOURCE_DIR}/cstring_native.cpp)
native_test(n_framework_test
  SOURCES ${TOP}/framework/cstring_test.cpp
  LIBS n_framework_text
  FILTER -CString.LoadsStringTableTexts)

native_library(n_regtext ${TOP}/testing/support/regtext.cpp)
native_test(n_regtext_test SOURCES ${TOP}/testing/tests/regtext_test.cpp LIBS n_regtext)

native_library(n_modemsim_engine ${TOP}/simulators/modem/modemlayout.cpp ${TOP}/simulators/modem/modemengine.cpp)
native_test(n_modemsim_engine_test SOURCES ${TOP}/simulators/modem/modemengine_test.cpp LIBS n_modemsim_engine)

native_library(n_cardflash_modemtext ${TOP}/cardflash/flash/isdntrace.cpp ${TOP}/cardflash/flash/modemreplies.cpp)
target_link_libraries(n_cardflash_modemtext PUBLIC n_framework_text)
native_test(n_cardflash_modemtext_test
  SOURCES ${TOP}/cardflash/flash/isdntrace_test.cpp ${TOP}/cardflash/flash/modemreplies_test.cpp
  LIBS n_cardflash_modemtext n_modemsim_engine
  FILTER -ModemStringTable.*)
native_fuzzer(modemtext LIBS n_cardflash_modemtext)
