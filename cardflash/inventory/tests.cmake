# Tests of the inventory under Wine, with the Windows versions each area branches on.

# Version-resource fixtures: two libraries with a version resource (one with "DllGetVersion"),
# one without.
foreach(fix verfix_a verfix_b)
  add_library(${fix} SHARED testdata/verfix.c testdata/verfix.def testdata/${fix}.rc)
  set_target_properties(${fix} PROPERTIES PREFIX "")
  suite_target(${fix})
endforeach()
add_library(verfix_plain SHARED testdata/plain.c)
set_target_properties(verfix_plain PROPERTIES PREFIX "")
suite_target(verfix_plain)

set(inventory_test_libs cardflash_inventory driver_standins)
set(inventory_test_rc testdata/test_resources.rc)

# Files in the system folder (the driver versions) and the ComputerName value are shared.
wine_add_gtest(inventory_system_test
  SOURCES os_info_test.cpp module_version_test.cpp
  LIBS ${inventory_test_libs}
  VERSIONS win95 winme win98 nt351 nt40 win2k
  LOCK inventory_system)
add_dependencies(inventory_system_test verfix_a verfix_b verfix_plain)

wine_add_gtest(inventory_error_log_test
  SOURCES error_log_test.cpp ${inventory_test_rc}
  LIBS ${inventory_test_libs} testsupport
  VERSIONS win98)

wine_add_gtest(inventory_device_db_test
  SOURCES static_card_info_test.cpp inventory_text_test.cpp
  LIBS ${inventory_test_libs}
  VERSIONS win98 nt40)

wine_add_gtest(inventory_registry_test
  SOURCES quick_reg_test.cpp dev_node_test.cpp res_desc_test.cpp ${inventory_test_rc}
  LIBS ${inventory_test_libs}
  VERSIONS win95 win98 nt40
  LOCK machine_registry)

wine_add_gtest(inventory_cis_test
  SOURCES cis_test.cpp cis_drivers_test.cpp
  LIBS ${inventory_test_libs}
  VERSIONS win98 nt351 nt40)

wine_add_gtest(inventory_ndis_test
  SOURCES ndis_test.cpp
  LIBS ${inventory_test_libs}
  VERSIONS win98 nt40 win2k
  CASES win98 "-NdisRoads.Nt*"
        nt40 "-NdisRoads.Windows9x*"
        win2k "-NdisRoads.Windows9x*"
  LOCK inventory_dosdevices)

wine_add_gtest(inventory_card_info_test
  SOURCES card_info_test.cpp ${inventory_test_rc}
  LIBS cardflash_cardinfo ${inventory_test_libs}
  VERSIONS win95 win98 nt351 nt40 win2k
  # The Windows 9x PCI look-up, the Windows 2000 service failure, and two cases that do not
  # depend on the version at all.
  CASES win95 "-CardInfoTest.ARegistryService*:CardInfoTest.UpdateDescription:CardInfoTest.Dump*"
        nt351 "-CardInfoTest.PciDevicesOnWindows9x*:CardInfoTest.ARegistryService*:CardInfoTest.UpdateDescription:CardInfoTest.Dump*"
        nt40 "-CardInfoTest.PciDevicesOnWindows9x*:CardInfoTest.ARegistryService*:CardInfoTest.UpdateDescription:CardInfoTest.Dump*"
        win98 "-CardInfoTest.ARegistryService*"
        win2k "-CardInfoTest.PciDevicesOnWindows9x*:CardInfoTest.UpdateDescription:CardInfoTest.Dump*")

# The Windows 9x reader against the fixture machine (testdata/machine): its registry keys are the
# ones the adapter lists' and the start-up tests load, and the other registry tests write keys
# beside them under HKLM\Enum and Config Manager, so all of them share one lock.
wine_add_gtest(inventory_card_reader_win9x_test
  SOURCES card_reader_win9x_test.cpp
  LIBS cardflash_cardinfo ${inventory_test_libs}
  VERSIONS win95 win98
  LOCK machine_registry)
add_dependencies(inventory_card_reader_win9x_test verfix_a)

# The Windows 2000 reader against watchsvc.exe as the local server COM starts: the cases register
# and unregister it, and load the fixture machine's keys, which the adapter lists' and the
# start-up tests load too.
wine_add_gtest(inventory_card_reader_win2000_test
  SOURCES card_reader_win2000_test.cpp
  LIBS cardflash_cardinfo watchsvc_testserver ${inventory_test_libs}
  VERSIONS win2k
  LOCK machine_registry
  SERIAL
  TIMEOUT 120)
add_dependencies(inventory_card_reader_win2000_test watchsvc verfix_a)

# The NT 3.51 and NT 4.0 readers against the fixture machine (cardflash/testdata/machine), whose
# keys the adapter lists' and start-up tests load too; a generic modem is the simulated card on
# the port pair.
wine_add_gtest(inventory_card_reader_nt_test
  SOURCES card_reader_nt_test.cpp ${CMAKE_SOURCE_DIR}/cardflash/flash/modemtext.rc
  LIBS cardflash_cardinfo modemsim ${inventory_test_libs}
  VERSIONS nt351 nt40
  CASES nt351 "NtMachine.Nt351*"
        nt40 "NtMachine.Nt40*:NtResourceText.*"
  PORT_PAIRS 1
  LOCK machine_registry)
add_dependencies(inventory_card_reader_nt_test verfix_a)

# The adapter lists. Their registry fixtures share the Enum branches with the fixture machine's,
# hence one lock for every case that loads Enum keys; on Windows 2000 every case runs watchsvc as
# a registered local server, so those cases run alone.
set(card_list_test_libs cardflash_cardlist watchsvc_testserver ${inventory_test_libs})
wine_add_gtest(inventory_card_list_test
  SOURCES card_list_test.cpp
  LIBS ${card_list_test_libs}
  VERSIONS win95 win98 nt351 nt40
  # Cases named after their Windows version run under it alone; the bus walks, the PCI pairing
  # and the database long names are the Windows 9x and 2000 roads; one full table is enough.
  CASES win95 "-CardListTest.Nt*:CardListTest.Win2000*:CardListTest.AFullTable*"
        win98 "-CardListTest.Nt*:CardListTest.Win2000*"
        nt351 "-CardListTest.Nt40*:CardListTest.Win2000*:CardListTest.BusWalks*:CardListTest.Refresh*:CardListTest.PciFunctions*:CardListTest.AFullTable*"
        nt40 "-CardListTest.Nt351*:CardListTest.Win2000*:CardListTest.BusWalks*:CardListTest.Refresh*:CardListTest.PciFunctions*:CardListTest.AFullTable*"
  LOCK machine_registry
  TIMEOUT 120)
wine_add_gtest(inventory_card_list_win2k_test
  SOURCES card_list_test.cpp
  LIBS ${card_list_test_libs}
  VERSIONS win2k
  CASES win2k "-CardListTest.Nt*:CardListTest.AFullTable*"
  LOCK machine_registry
  SERIAL
  TIMEOUT 180)
add_dependencies(inventory_card_list_win2k_test watchsvc)

# The installed modems: HKLM\Enum on Windows 95 OSR2 (winme) and 98, the modem device class on NT
# 4.0. The Enum fixtures sit beside the fixture machine's keys, hence its lock.
wine_add_gtest(inventory_modem_list_9x_test
  SOURCES modem_list_9x_test.cpp
  LIBS ${inventory_test_libs}
  VERSIONS winme win98
  LOCK machine_registry)
wine_add_gtest(inventory_modem_list_nt_test
  SOURCES modem_list_nt_test.cpp
  LIBS ${inventory_test_libs}
  VERSIONS nt40
  LOCK machine_registry)

# Modem INF installation with Wine's Setup API into the fixture machine's modem driver keys.
wine_add_gtest(inventory_inf_to_reg_test
  SOURCES inf_to_reg_test.cpp ${CMAKE_SOURCE_DIR}/cardflash/flash/fw_test_files.cpp
          ${CMAKE_SOURCE_DIR}/cardflash/flash/fw_test_folder.cpp
  LIBS cardflash_inftoreg ${inventory_test_libs}
  VERSIONS win98 nt40
  CASES win98 "-InfToRegTest.ResponsesStay*:InfToRegTest.WindowsNt*"
  LOCK machine_registry)
