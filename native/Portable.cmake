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

# The firmware file formats: the information block, .PAK and .MPK over bytes. The test builders
# make the fuzz seeds (make_seeds) and a patchable image for the .MPK target.
native_library(n_cardflash_fwformat ${TOP}/cardflash/flash/fis.cpp ${TOP}/cardflash/flash/pak_format.cpp
               ${TOP}/cardflash/flash/mpk_format.cpp)
target_link_libraries(n_cardflash_fwformat PUBLIC n_framework_text)
native_library(n_fwtest_builders ${TOP}/cardflash/flash/fw_test_files.cpp)
native_test(n_cardflash_fwformat_test
  SOURCES ${TOP}/cardflash/flash/fis_test.cpp
  LIBS n_cardflash_fwformat n_fwtest_builders)
native_fuzzer(fwinfo LIBS n_cardflash_fwformat)
native_fuzzer(pak LIBS n_cardflash_fwformat)
native_fuzzer(mpk LIBS n_cardflash_fwformat n_fwtest_builders)

# dialconf's reply readers and rules, and the ISDN adapter model whose reply layouts they read.
native_library(n_isdn_adapter_model ${TOP}/simulators/isdn/isdn_replies.cpp ${TOP}/simulators/isdn/isdn_adapter.cpp
               ${TOP}/simulators/isdn/tamrisk_link.cpp ${TOP}/simulators/isdn/capi_controller.cpp
               ${TOP}/simulators/isdn/raw_dialogue.cpp)
native_test(n_isdn_adapter_test
  SOURCES ${TOP}/simulators/isdn/isdn_adapter_test.cpp ${TOP}/simulators/isdn/tamrisk_link_test.cpp
          ${TOP}/simulators/isdn/capi_controller_test.cpp
  LIBS n_isdn_adapter_model)
native_fuzzer(isdn_capi LIBS n_isdn_adapter_model)
native_library(n_dialconf_rules ${TOP}/dialconf/adapter_replies.cpp ${TOP}/dialconf/config_rules.cpp)
target_link_libraries(n_dialconf_rules PUBLIC n_framework_text)
native_test(n_dialconf_rules_test
  SOURCES ${TOP}/dialconf/adapter_replies_test.cpp ${TOP}/dialconf/reply_deadline_test.cpp
  LIBS n_dialconf_rules n_isdn_adapter_model)
native_fuzzer(dialconf LIBS n_dialconf_rules)

add_executable(make_seeds make_seeds.cpp)
target_link_libraries(make_seeds PRIVATE n_cardflash_fwformat n_fwtest_builders n_isdn_adapter_model native_options)

# cardflash's inventory: the CIS tuple walk, CRC and plug-and-play id, the Windows 9x allocation
# values, the registry values the adapter readers decode, the name lists, and the device database lookups (over the fuzz target's own profile
# reader; the program reads the file through Win32).
native_library(n_cardflash_inventory_text
  ${TOP}/cardflash/inventory/cis.cpp ${TOP}/cardflash/inventory/res_desc.cpp
  ${TOP}/cardflash/inventory/name_list.cpp ${TOP}/cardflash/inventory/reg_path.cpp
  ${TOP}/cardflash/inventory/os_index.cpp ${TOP}/cardflash/inventory/win9x_net.cpp
  ${TOP}/cardflash/inventory/nt_resource_text.cpp)
target_link_libraries(n_cardflash_inventory_text PUBLIC n_framework_text)
native_library(n_cardflash_devicedb ${TOP}/cardflash/inventory/static_card_info.cpp)
target_link_libraries(n_cardflash_devicedb PUBLIC n_cardflash_inventory_text)
native_fuzzer(cis LIBS n_cardflash_inventory_text)
native_fuzzer(resdesc LIBS n_cardflash_inventory_text)
native_fuzzer(regvalues LIBS n_cardflash_inventory_text)
native_fuzzer(devicedb LIBS n_cardflash_devicedb)
native_test(n_cardflash_inventory_test
  SOURCES ${TOP}/cardflash/inventory/cis_test.cpp ${TOP}/cardflash/inventory/res_desc_test.cpp
          ${TOP}/cardflash/inventory/inventory_text_test.cpp
  LIBS n_cardflash_inventory_text)

# The in-place flash dialogues, driven directly and against the simulated card's state machine.
native_library(n_cardflash_flashproto ${TOP}/cardflash/flash/flash_protocol.cpp)
target_link_libraries(n_cardflash_flashproto PUBLIC n_cardflash_fwformat n_cardflash_inventory_text)
native_test(n_cardflash_flashproto_test
  SOURCES ${TOP}/cardflash/flash/flash_protocol_test.cpp
  LIBS n_cardflash_flashproto n_modemsim_engine n_fwtest_builders)

# TAPI's structures over bytes and the meaning of line events.
native_library(n_cardflash_tapitext ${TOP}/cardflash/flash/tapi_layout.cpp)
native_test(n_cardflash_tapitext_test SOURCES ${TOP}/cardflash/flash/tapi_layout_test.cpp LIBS n_cardflash_tapitext)
native_fuzzer(tapi LIBS n_cardflash_tapitext)

# The last-call monitor's decisions.
native_library(n_cardflash_lastcall ${TOP}/cardflash/flash/last_call_watch.cpp)
native_test(n_cardflash_lastcall_test SOURCES ${TOP}/cardflash/flash/last_call_watch_test.cpp LIBS n_cardflash_lastcall)
# The flash-driver engine's byte work: the request layouts, the .PAK entry-table check, the card's
# values in a CIS and the block writes over a driver handle.
native_library(n_cardflash_flashdrv_format ${TOP}/cardflash/flash/flash_engine_format.cpp)
target_link_libraries(n_cardflash_flashdrv_format PUBLIC n_cardflash_fwformat)
native_test(n_cardflash_flashdrv_test
  SOURCES ${TOP}/cardflash/flash/flash_engine_format_test.cpp
  LIBS n_cardflash_flashdrv_format n_fwtest_builders)
native_fuzzer(flashdrv LIBS n_cardflash_flashdrv_format)

# The CAPI common base of portbridge and msgcore: the list classes, the debug output (the mutex
# and the clock from common_native.cpp), the message cracker and the tracer.
native_library(n_common ${TOP}/common/tobject.cpp ${TOP}/common/debug.cpp ${TOP}/common/cracker.cpp
               ${TOP}/common/capitrace.cpp ${TOP}/common/capitrace_names.cpp ${TOP}/common/stage_clock.cpp
               ${CMAKE_CURRENT_SOURCE_DIR}/common_native.cpp)
native_test(n_common_test
  SOURCES ${TOP}/common/base_test.cpp ${TOP}/common/debug_test.cpp ${TOP}/common/cracker_test.cpp
          ${TOP}/common/capitrace_test.cpp ${TOP}/common/capi_data_b3_test.cpp
  LIBS n_common)
native_fuzzer(common_cracker LIBS n_common)
native_fuzzer(common_trace LIBS n_common)

# msgcore's port and connection handler with its state machine, and the X.25 NCPI.
native_library(n_msgcore ${TOP}/msgcore/capi_port.cpp ${TOP}/msgcore/message_handler.cpp
               ${TOP}/msgcore/x25_ncpi.cpp)
target_link_libraries(n_msgcore PUBLIC n_common)
native_test(n_msgcore_test SOURCES ${TOP}/msgcore/handler_test.cpp LIBS n_msgcore)
native_fuzzer(msgcore_dispatch LIBS n_msgcore)

# remover's rules: list lines, the installation's paths, the directory walk, WININIT.INI entries.
native_library(n_remover_rules ${TOP}/remover/uninstall_rules.cpp)
target_link_libraries(n_remover_rules PUBLIC n_framework_text)
native_test(n_remover_rules_test SOURCES ${TOP}/remover/uninstall_rules_test.cpp LIBS n_remover_rules)
native_fuzzer(remover LIBS n_remover_rules)

# patchkit's rules: version codes, the old files and keys, which found lists are handed over.
native_library(n_patchkit_rules ${TOP}/patchkit/cleanup_rules.cpp)
native_test(n_patchkit_rules_test SOURCES ${TOP}/patchkit/cleanup_rules_test.cpp LIBS n_patchkit_rules)

# portbridge's protocol stack: the task runtime and its memory, the timer service, the serial
# frame, the HDLC link layer, layer management and the link control with its pacing.
native_library(n_portbridge_stack
  ${TOP}/portbridge/stack/os_runtime.cpp ${TOP}/portbridge/stack/os_memory.cpp
  ${TOP}/portbridge/stack/timer_service.cpp ${TOP}/portbridge/stack/serial_frame.cpp
  ${TOP}/portbridge/stack/hdlc.cpp ${TOP}/portbridge/stack/layer_management.cpp
  ${TOP}/portbridge/stack/transmit_history.cpp ${TOP}/portbridge/stack/link_control.cpp)
target_link_libraries(n_portbridge_stack PUBLIC n_common)
set_source_files_properties(
  ${TOP}/portbridge/stack/os_runtime.cpp ${TOP}/portbridge/stack/os_memory.cpp ${TOP}/portbridge/stack/timer_service.cpp
  PROPERTIES COMPILE_OPTIONS -fsanitize-coverage-ignorelist=${CMAKE_CURRENT_SOURCE_DIR}/fuzz/runtime_coverage_ignore.txt)
native_test(n_portbridge_stack_test
  SOURCES ${TOP}/portbridge/stack/runtime_test.cpp ${TOP}/portbridge/stack/memory_test.cpp
          ${TOP}/portbridge/stack/timer_test.cpp ${TOP}/portbridge/stack/serial_frame_test.cpp
          ${TOP}/portbridge/stack/hdlc_test.cpp ${TOP}/portbridge/stack/layer_management_test.cpp
          ${TOP}/portbridge/stack/link_control_test.cpp
  LIBS n_portbridge_stack)
native_fuzzer(serialframe LIBS n_portbridge_stack)
native_fuzzer(hdlc LIBS n_portbridge_stack)
native_fuzzer(hdlc_link LIBS n_portbridge_stack n_isdn_adapter_model)

# portbridge's terminal-adapter provider and port over fakes of link control and the engine.
native_library(n_portbridge_provider
  ${TOP}/portbridge/provider/ta_identity.cpp ${TOP}/portbridge/provider/ta_port.cpp
  ${TOP}/portbridge/provider/ta_provider.cpp)
target_link_libraries(n_portbridge_provider PUBLIC n_common)
native_test(n_portbridge_provider_test SOURCES ${TOP}/portbridge/provider/provider_test.cpp LIBS n_portbridge_provider)

# The file status of a package's modem settings section (cardflash's settings dialog).
native_library(n_cardflash_settings_header ${TOP}/cardflash/app/settings_header.cpp)
native_test(n_cardflash_settings_header_test
  SOURCES ${TOP}/cardflash/app/settings_header_test.cpp
  LIBS n_cardflash_settings_header)

# portbridge's CAPI engine: application objects, message paths, calls and B3 connections.
native_library(n_portbridge_capi ${TOP}/portbridge/capi/capi_engine.cpp ${TOP}/portbridge/capi/capi_dispatch.cpp)
target_link_libraries(n_portbridge_capi PUBLIC n_common)
native_test(n_portbridge_capi_test SOURCES ${TOP}/portbridge/capi/capi_engine_test.cpp LIBS n_portbridge_capi)
native_fuzzer(capi_engine LIBS n_portbridge_capi)

# portbridge's reading of its settings file as numbers.
native_library(n_portbridge_profile ${TOP}/portbridge/profile_values.cpp)
native_test(n_portbridge_profile_test SOURCES ${TOP}/portbridge/profile_values_test.cpp LIBS n_portbridge_profile)

# portbridge's bytes shared with the system's CAPI library: names, the put checks, the receive
# slots.
native_library(n_portbridge_capi_layout ${TOP}/portbridge/capi/shared_layout.cpp)
target_link_libraries(n_portbridge_capi_layout PUBLIC n_common)
native_test(n_portbridge_capi_layout_test
  SOURCES ${TOP}/portbridge/capi/shared_layout_test.cpp
  LIBS n_portbridge_capi_layout)
native_fuzzer(portbridge_shared LIBS n_portbridge_capi_layout)
