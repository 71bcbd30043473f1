// The registry store reader over arbitrary file content. A store that reads
// is written back after a change, and what is written must read again and
// come out the same once more: the writer's quoting and the reader agree.
// A store that does not read is never overwritten.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "automation/KCregistry.h"
#include "fuzz/fuzz_check.h"

using kestrune::automation::TKC_classesroot;
using kestrune::fuzz::Check;

namespace {

namespace fs = std::filesystem;

fs::path Store;

std::string Content() {
    std::ifstream in(Store, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(std::string_view content) {
    std::ofstream out(Store, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// Loads the store, makes it dirty without a lasting change and commits.
bool Rewrite() {
    TKC_classesroot root;
    if (!root.Load()) return false;
    root.SetValue(u"Fuzz\\Scratch", u"", u"x");
    root.DeleteKey(u"Fuzz\\Scratch");  // stays if the store gave it subkeys
    Check(root.Commit(), "a store that reads is written");
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Memory-backed when the system has it: every commit syncs.
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path dir = base / ("kestrune-fuzz-registry-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    Store = dir / "HKEY_CLASSES_ROOT.reg";
    ::setenv("KESTRUNE_REGISTRY", Store.c_str(), 1);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(Store.parent_path(), ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Write(input);
    if (!Rewrite()) {
        Check(Content() == input, "a store that does not read is left as it was");
        return 0;
    }
    const std::string once = Content();
    Check(Rewrite(), "what the writer wrote reads again");
    Check(Content() == once, "reading and writing again changes nothing");
    return 0;
}
