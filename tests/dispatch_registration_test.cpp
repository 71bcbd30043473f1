// Registration through DllRegisterServer and DllUnregisterServer: the
// entries under HKEY_CLASSES_ROOT, registering twice, removing everything,
// leaving other servers' entries alone, and never damaging a store that
// cannot be read. Each test works on a temporary store: a file here, a
// temporary key standing in for HKEY_CLASSES_ROOT on Windows.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>

#include "dispatch_client.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

const std::string Clsid = "{37F87091-2C4D-449A-BA80-279FF9C13719}";
const std::string Libid = "{F02B7CFC-07AD-48C3-8777-A998B3EE8E0A}";
const std::string Iid = "{6AB2AB04-5A38-4B38-8F0A-9C4B60BC030E}";

#ifndef _WIN32
std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
#endif

// The library file that the test process loaded.
std::string LibraryPath() {
#ifdef _WIN32
    // Not by an entry point's address: in this program that is its import thunk.
    const HMODULE module = GetModuleHandleA("brindel_Kestrune.dll");
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
#else
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&DllGetClassObject), &info);
    return fs::weakly_canonical(fs::absolute(info.dli_fname)).string();
#endif
}

#ifndef _WIN32
// The store read back independently of the library: [key] sections of
// "name"="data" or @="data" lines (no escapes occur in these entries).
std::map<std::string, std::map<std::string, std::string>> ReadStore(const fs::path& path) {
    std::map<std::string, std::map<std::string, std::string>> keys;
    std::istringstream in(Slurp(path));
    std::string current;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[') {
            current = Lower(line.substr(1, line.size() - 2));
            keys[current];
            continue;
        }
        const auto equals = line.find("=\"");
        std::string name = line.substr(0, equals);
        name = name == "@" ? "" : Lower(name.substr(1, name.size() - 2));
        keys[current][name] = line.substr(equals + 2, line.size() - equals - 3);
    }
    return keys;
}
#endif

class Registration : public testing::Test {
protected:
    void SetUp() override {
        dir_ = NewTempDir("kestrune-registry-");
#ifdef _WIN32
        // Everything the process writes to HKEY_CLASSES_ROOT, the platform's
        // type-library registration included, lands under this key instead.
        static int count = 0;
        overrideKey_ = "Software\\KestruneRegistrationTest-" + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(++count);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, overrideKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, key), ERROR_SUCCESS);
        RegCloseKey(key);
#else
        if (const char* old = std::getenv("KESTRUNE_REGISTRY")) saved_ = old;
        store_ = dir_ / "HKEY_CLASSES_ROOT.reg";
        ::setenv("KESTRUNE_REGISTRY", store_.c_str(), 1);
#endif
    }
    void TearDown() override {
#ifdef _WIN32
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegDeleteTreeA(HKEY_CURRENT_USER, overrideKey_.c_str());
#else
        if (saved_)
            ::setenv("KESTRUNE_REGISTRY", saved_->c_str(), 1);
        else
            ::unsetenv("KESTRUNE_REGISTRY");
#endif
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::optional<std::string> Value(const std::string& key, const std::string& name = "") const {
#ifdef _WIN32
        char data[1024] = {};
        DWORD size = sizeof data;
        if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_REG_SZ, nullptr, data,
                         &size) != ERROR_SUCCESS)
            return std::nullopt;
        return std::string(data);
#else
        const auto keys = ReadStore(store_);
        const auto k = keys.find(Lower(key));
        if (k == keys.end()) return std::nullopt;
        const auto v = k->second.find(Lower(name));
        if (v == k->second.end()) return std::nullopt;
        return v->second;
#endif
    }
    bool HasKey(const std::string& key) const {
#ifdef _WIN32
        HKEY handle = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
        RegCloseKey(handle);
        return true;
#else
        const std::string prefix = Lower(key);
        for (const auto& [name, values] : ReadStore(store_))
            if (name == prefix || name.starts_with(prefix + "\\")) return true;
        return false;
#endif
    }

    // A key of another component's below one of ours.
    void AddForeignSubkey(const std::string& key) {
#ifdef _WIN32
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(handle);
#else
        std::ofstream(store_, std::ios::app) << "\n[" << key << "]\n@=\"\"\n";
#endif
    }

    fs::path dir_, store_;
    std::optional<std::string> saved_;
    std::string overrideKey_;
};

const std::vector<std::string>& ClassKeys() {
    static const std::vector<std::string> keys = {
        "CLSID\\" + Clsid + "\\TypeLib", "CLSID\\" + Clsid + "\\Version",   "CLSID\\" + Clsid + "\\ProgID",
        "brindel_Kestrune.Kestrune\\Clsid", "brindel_Kestrune.Kestrune", "CLSID\\" + Clsid + "\\InprocServer32",
        "CLSID\\" + Clsid};
    return keys;
}

TEST_F(Registration, WritesTheClassAndTypeLibraryEntries) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const std::string clsid = "CLSID\\" + Clsid;
    EXPECT_EQ(Value(clsid), "Kestrune Object");
    EXPECT_EQ(Value(clsid + "\\InprocServer32"), LibraryPath());
    EXPECT_EQ(Value(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value("brindel_Kestrune.Kestrune"), "Kestrune Object");
    EXPECT_EQ(Value("brindel_Kestrune.Kestrune\\Clsid"), Clsid);
    EXPECT_EQ(Value(clsid + "\\ProgID"), "brindel_Kestrune.Kestrune");
    EXPECT_EQ(Value(clsid + "\\Version"), "1.0");
    EXPECT_EQ(Value(clsid + "\\TypeLib"), Libid);
    EXPECT_EQ(Value("TypeLib\\" + Libid + "\\1.0"), "brindel_Kestrune Library");
    EXPECT_EQ(Value("Interface\\" + Iid), "IKestrune");
    EXPECT_EQ(Value("Interface\\" + Iid + "\\TypeLib"), Libid);
}

TEST_F(Registration, RegisteringTwiceLeavesTheSameEntriesAndUnregisteringRemovesThemAll) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
#ifndef _WIN32
    const std::string once = Slurp(store_);
#endif
    ASSERT_EQ(DllRegisterServer(), S_OK);
#ifndef _WIN32
    EXPECT_EQ(Slurp(store_), once);
    // Written by rename: no temporary file is left beside the store.
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_TRUE(entry.path() == store_ || entry.path().extension() == ".lock") << entry.path();
#endif
    for (const auto& key : ClassKeys()) EXPECT_TRUE(HasKey(key)) << key;

    ASSERT_EQ(DllUnregisterServer(), S_OK);
    for (const auto& key : ClassKeys()) EXPECT_FALSE(HasKey(key)) << key;
    EXPECT_FALSE(HasKey("TypeLib\\" + Libid));
    EXPECT_FALSE(HasKey("Interface\\" + Iid));
    EXPECT_EQ(DllUnregisterServer(), S_OK);  // nothing left to remove is no failure
}

TEST_F(Registration, AKeyWithForeignSubkeysStaysAndTheRestGoes) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    AddForeignSubkey("CLSID\\" + Clsid + "\\Implemented Categories");
    EXPECT_EQ(DllUnregisterServer(), E_FAIL);
    EXPECT_TRUE(HasKey("CLSID\\" + Clsid));
    EXPECT_FALSE(HasKey("CLSID\\" + Clsid + "\\InprocServer32"));
    EXPECT_FALSE(HasKey("brindel_Kestrune.Kestrune"));
}

#ifndef _WIN32
TEST_F(Registration, OtherServersEntriesStay) {
    std::ofstream(store_) << "[CLSID\\{00000000-1111-2222-3333-444444444444}]\n@=\"Other \\\"quoted\\\" Object\"\n\n"
                             "[Other.Thing]\n@=\"Other\"\n";
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(Value("Other.Thing"), "Other");
    EXPECT_TRUE(HasKey("CLSID\\{00000000-1111-2222-3333-444444444444}"));
    EXPECT_NE(Slurp(store_).find("@=\"Other \\\"quoted\\\" Object\""), std::string::npos);
    EXPECT_FALSE(HasKey("CLSID\\" + Clsid));
}

TEST_F(Registration, OtherServersBytesStayEvenWhenNotUtf8) {
    const std::string foreign = "@=\"caf\xe9 \xff\"";
    std::ofstream(store_, std::ios::binary) << "[Other.Caf\xe9]\n" << foreign << "\n";
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_NE(Slurp(store_).find("[Other.Caf\xe9]\n" + foreign + "\n"), std::string::npos);
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_NE(Slurp(store_).find("[Other.Caf\xe9]\n" + foreign + "\n"), std::string::npos);
}

TEST_F(Registration, TheStoreKeepsItsMode) {
    std::ofstream(store_) << "[Other.Thing]\n@=\"Other\"\n";
    const auto mode = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(store_, mode);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(fs::status(store_).permissions(), mode);
}

TEST_F(Registration, ALinkedStoreIsWrittenWhereTheLinkPoints) {
    fs::create_directories(dir_ / "real");
    std::ofstream(dir_ / "real" / "store.reg") << "[Other.Thing]\n@=\"Other\"\n";
    fs::create_symlink(fs::path("real") / "store.reg", store_);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_TRUE(fs::is_symlink(store_));
    EXPECT_EQ(Value("Other.Thing"), "Other");
    EXPECT_TRUE(HasKey("CLSID\\" + Clsid + "\\InprocServer32"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1);  // no temporary left
}

TEST_F(Registration, AStoreThatCannotBeReadIsNeverOverwritten) {
    const std::string garbage = "[CLSID\\{x}]\nthis is not an entry\n";
    std::ofstream(store_) << garbage;
    EXPECT_EQ(DllRegisterServer(), E_FAIL);
    EXPECT_EQ(DllUnregisterServer(), E_FAIL);
    EXPECT_EQ(Slurp(store_), garbage);
}

TEST_F(Registration, AStoreThatCannotBeWrittenFails) {
    std::ofstream(dir_ / "file") << "x";
    ::setenv("KESTRUNE_REGISTRY", (dir_ / "file" / "store.reg").c_str(), 1);
    EXPECT_EQ(DllRegisterServer(), E_FAIL);
    EXPECT_EQ(DllUnregisterServer(), E_FAIL);
}


TEST_F(Registration, TheDefaultStoreFollowsXdgDataHome) {
    ::unsetenv("KESTRUNE_REGISTRY");
    const char* oldData = std::getenv("XDG_DATA_HOME");
    const std::optional<std::string> saved = oldData ? std::optional<std::string>(oldData) : std::nullopt;
    ::setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    const HRESULT hr = DllRegisterServer();
    if (saved)
        ::setenv("XDG_DATA_HOME", saved->c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    ASSERT_EQ(hr, S_OK);
    EXPECT_NE(Slurp(dir_ / "kestrune" / "HKEY_CLASSES_ROOT.reg").find(Clsid), std::string::npos);
}
#endif

}  // namespace
}  // namespace kestrune::test
