// The keys that the registry server holds open for its clients, and the read-only operations on
// them. One store per process: a number handed out by one object may be used through any other.
// Used only on the server's apartment thread.
#pragma once

#include <windows.h>

#include <string>

#include "handletable.h"
#include "keypath.h"

namespace watchsvc {

class KeyStore {
public:
    KeyStore() = default;
    ~KeyStore();  // closes every key a client left open
    KeyStore(const KeyStore&) = delete;
    KeyStore& operator=(const KeyStore&) = delete;

    static KeyStore& Instance();

    // Opens `subkey` (system code page) below a root key or a number that Open handed out, with
    // read access. Returns the Win32 result: 87 for refused roots and for the SECURITY and SAM
    // hives, 6 for a number this store did not hand out. On success `*number` is the new key.
    LONG Open(LONG key, const std::string& subkey, LONG* number);
    LONG Close(LONG number);
    // Reads a value; on success `*type` and `*data` hold what the registry returned.
    LONG Query(LONG number, const std::string& name, DWORD* type, std::string* data);
    // Reads the name of subkey `index`.
    LONG Enum(LONG number, DWORD index, std::string* name);

    size_t open_count() const { return keys_.size(); }

private:
    struct OpenedKey {
        HKEY key = nullptr;
        bool machine = false;  // below HKEY_LOCAL_MACHINE
        KeyPath path;          // below that root, upper-cased
    };
    HandleTable<OpenedKey> keys_;
};

}  // namespace watchsvc
