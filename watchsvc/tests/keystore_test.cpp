// The key store in the test's own process, on the real registry.
#include <gtest/gtest.h>

#include "KeyStore.h"
#include "winetest/registry.h"

namespace watchsvc {
namespace {

const LONG kHkcr = LONG(0x80000000u), kHkcu = LONG(0x80000001u), kHklm = LONG(0x80000002u),
           kHku = LONG(0x80000003u), kHkcc = LONG(0x80000005u);

class KeyStoreTest : public ::testing::Test {
protected:
    KeyStoreTest()
        : reg_("[HKLM\\Software\\WatchsvcUnit]\n"
               "\"Text\"=\"hello\"\n"
               "\"Number\"=dword:00000005\n"
               "\"Short\"=hex(4):01,02\n"
               "\"Bare\"=hex(1):41,42,43\n"
               "\"Bytes\"=hex:01,02,03\n"
               "[HKLM\\Software\\WatchsvcUnit\\A]\n"
               "[HKLM\\Software\\WatchsvcUnit\\B]\n") {}

    LONG OpenUnit(LONG* key) { return store_.Open(kHklm, "Software\\WatchsvcUnit", key); }

    winetest::RegFixture reg_;
    KeyStore store_;
};

TEST_F(KeyStoreTest, ReadsValuesWithinTheirData) {
    LONG key = 0;
    ASSERT_EQ(OpenUnit(&key), 0);
    DWORD type = 0;
    std::string data;
    ASSERT_EQ(store_.Query(key, "Text", &type, &data), 0);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(std::string(data.c_str()), "hello");
    ASSERT_EQ(store_.Query(key, "Short", &type, &data), 0);
    EXPECT_EQ(data.size(), 2u);  // exactly what the registry holds, never more
    ASSERT_EQ(store_.Query(key, "Bare", &type, &data), 0);
    EXPECT_EQ(data.substr(0, 3), "ABC");
    EXPECT_EQ(store_.Query(key, "Missing", &type, &data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store_.Close(key), 0);
}

TEST_F(KeyStoreTest, EnumeratesSubkeys) {
    LONG key = 0;
    ASSERT_EQ(OpenUnit(&key), 0);
    std::string name;
    ASSERT_EQ(store_.Enum(key, 0, &name), 0);
    EXPECT_EQ(name, "A");
    ASSERT_EQ(store_.Enum(key, 1, &name), 0);
    EXPECT_EQ(name, "B");
    EXPECT_EQ(store_.Enum(key, 2, &name), ERROR_NO_MORE_ITEMS);
    // A subkey through the number handed out.
    LONG sub = 0;
    EXPECT_EQ(store_.Open(key, "a", &sub), 0);
    EXPECT_EQ(store_.open_count(), 2u);
}

TEST_F(KeyStoreTest, RefusesOtherRootsAndTheSecurityHives) {
    LONG key = 12345;
    for (LONG root : {kHkcr, kHkcu, kHku, kHkcc}) {
        EXPECT_EQ(store_.Open(root, "Software", &key), ERROR_INVALID_PARAMETER) << std::hex << root;
        EXPECT_EQ(store_.Open(root, "", &key), ERROR_INVALID_PARAMETER) << std::hex << root;
    }
    for (const char* name : {"\\SAM", "\\sam\\x", "SAM", "Sam\\SAM", "\\\\SECURITY", "security\\Policy",
                             "SECURITY\\", "\\Security\\Policy\\Secrets"})
        EXPECT_EQ(store_.Open(kHklm, name, &key), ERROR_INVALID_PARAMETER) << name;
    // The machine key itself first, then the hive through it.
    LONG machine = 0;
    ASSERT_EQ(store_.Open(kHklm, "", &machine), 0);
    EXPECT_EQ(store_.Open(machine, "SAM", &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(store_.Open(machine, "\\security\\policy", &key), ERROR_INVALID_PARAMETER);
    // A name with an embedded zero is checked as the registry reads it.
    EXPECT_EQ(store_.Open(kHklm, std::string("SAM\0x", 5), &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, 12345);  // nothing handed out
    EXPECT_EQ(store_.open_count(), 1u);
    LONG software = 0;
    EXPECT_EQ(store_.Open(machine, "Software", &software), 0);
}

TEST_F(KeyStoreTest, AcceptsOnlyNumbersItHandedOut) {
    std::string s;
    DWORD type = 0;
    LONG forged[] = {0, 1, 0x1234, LONG(0x80000002u), LONG(0x80000004u), -1};
    for (LONG f : forged) {
        EXPECT_EQ(store_.Close(f), ERROR_INVALID_HANDLE) << f;
        EXPECT_EQ(store_.Query(f, "x", &type, &s), ERROR_INVALID_HANDLE) << f;
        EXPECT_EQ(store_.Enum(f, 0, &s), ERROR_INVALID_HANDLE) << f;
        LONG key = 0;
        if (f != LONG(0x80000002u) && f != LONG(0x80000004u)) {
            EXPECT_EQ(store_.Open(f, "x", &key), ERROR_INVALID_HANDLE) << f;
        }
    }
    LONG key = 0;
    ASSERT_EQ(OpenUnit(&key), 0);
    EXPECT_EQ(store_.Close(key), 0);
    EXPECT_EQ(store_.Close(key), ERROR_INVALID_HANDLE);  // a closed number is dead
    EXPECT_EQ(store_.Query(key, "Text", &type, &s), ERROR_INVALID_HANDLE);
}


// A registry link below an allowed key that leads into a refused hive: no spelling check sees it,
// the check of the opened key's own name does.
class LinkKey {
public:
    LinkKey(const char* path, const wchar_t* target) : path_(path) {
        const DWORD kCreateLink = 0x2;  // REG_OPTION_CREATE_LINK
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, kCreateLink | REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
        else
            RegSetValueExW(key_, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target),
                           DWORD(wcslen(target) * sizeof(wchar_t)));
    }
    ~LinkKey() {
        if (!key_) return;
        typedef LONG(WINAPI * NtDeleteKeyFn)(HANDLE);
        auto del = reinterpret_cast<NtDeleteKeyFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
        if (del) del(key_);
        RegCloseKey(key_);
    }
    LinkKey(const LinkKey&) = delete;
    LinkKey& operator=(const LinkKey&) = delete;
    bool made() const { return key_ != nullptr; }

private:
    std::string path_;
    HKEY key_ = nullptr;
};

TEST_F(KeyStoreTest, ALinkIntoARefusedHiveIsRefused) {
    winetest::RegFixture hive("[HKLM\\SAM\\WatchsvcTarget]\n\"X\"=\"1\"\n");
    LinkKey link("Software\\WatchsvcLink", L"\\Registry\\Machine\\SAM");
    ASSERT_TRUE(link.made());
    HKEY direct = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\WatchsvcLink\\WatchsvcTarget", 0, KEY_READ, &direct) !=
        ERROR_SUCCESS)
        GTEST_SKIP() << "this system does not follow registry links";
    RegCloseKey(direct);
    LONG key = 0;
    EXPECT_EQ(store_.Open(kHklm, "Software\\WatchsvcLink", &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(store_.Open(kHklm, "Software\\WatchsvcLink\\WatchsvcTarget", &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(store_.open_count(), 0u);
}

}  // namespace
}  // namespace watchsvc
