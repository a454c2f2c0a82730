// Replays a fuzz corpus in the Win32 build: feeds every file of the folder given to the target's
// LLVMFuzzerTestOneInput, as the native build's replay does under the sanitizers. A target that
// finds a fault aborts, which fails the test; an empty or missing folder fails it too, so a moved
// corpus cannot pass unnoticed.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadAll(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

struct FindHandle {
    HANDLE h;
    ~FindHandle() {
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    WIN32_FIND_DATAA d;
    FindHandle find{FindFirstFileA((folder + "\\*").c_str(), &d)};
    if (find.h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "no corpus at %s\n", folder.c_str());
        return 1;
    }
    int count = 0;
    std::vector<uint8_t> bytes;
    do {
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string path = folder + "\\" + d.cFileName;
        if (!ReadAll(path, &bytes)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        std::printf("%s (%u bytes)\n", d.cFileName, static_cast<unsigned>(bytes.size()));
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++count;
    } while (FindNextFileA(find.h, &d));
    std::printf("%d inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
