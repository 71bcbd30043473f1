// HKEY_CLASSES_ROOT kept in a file, for systems without the platform's
// registry (the format and location are described in KCregistry.h).
#include "automation/KCregistry.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>

#include "automation/brindel_Kestrune_TLB.h"
#include "object/KCcodepage.h"

namespace kestrune::automation {
namespace {

namespace fs = std::filesystem;

constexpr char Header[] =
    "; HKEY_CLASSES_ROOT of the in-process automation servers registered on this\n"
    "; system. Written by their registration; one key per section, as in the\n"
    "; platform's registry export files.\n";

// Names and data are kept as the store's bytes: other servers' entries
// pass through a registration unchanged, even when they are not UTF-8.

// Registry names compare without regard to case.
std::string Folded(std::string_view name) {
    std::string folded(name);
    for (auto& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::string_view Trimmed(std::string_view key) {
    while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    return key;
}

struct TKey {
    std::string name;
    std::map<std::string, std::pair<std::string, std::string>> values;  // folded name -> (name, data)
};

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out + '"';
}

// A quoted string at the start of text; the rest of text follows it.
std::optional<std::string> Unquote(std::string_view& text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    std::string value;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return value;
        }
        if (c != '\\') {
            value += c;
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\': value += '\\'; break;
            case '"': value += '"'; break;
            case 'n': value += '\n'; break;
            case 'r': value += '\r'; break;
            default: return std::nullopt;
        }
    }
    return std::nullopt;
}

bool Parse(const std::string& content, std::map<std::string, TKey>& keys) {
    std::istringstream in(content);
    TKey* current = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string_view text = line;
        if (text.find_first_not_of(" \t") == std::string_view::npos || text.front() == ';') continue;
        if (text.front() == '[') {
            if (text.back() != ']' || text.size() < 3) return false;
            const std::string name(Trimmed(text.substr(1, text.size() - 2)));
            if (name.empty()) return false;
            current = &keys[Folded(name)];
            current->name = name;
            continue;
        }
        if (current == nullptr) return false;
        std::string valueName;
        if (text.front() == '@') {
            text.remove_prefix(1);
        } else {
            auto name = Unquote(text);
            if (!name || name->empty()) return false;
            valueName = std::move(*name);
        }
        if (text.empty() || text.front() != '=') return false;
        text.remove_prefix(1);
        auto data = Unquote(text);
        if (!data || !text.empty()) return false;
        current->values[Folded(valueName)] = {valueName, std::move(*data)};
    }
    return true;
}

std::string Serialise(const std::map<std::string, TKey>& keys) {
    std::string out = Header;
    for (const auto& [folded, key] : keys) {
        out += "\n[" + key.name + "]\n";
        for (const auto& [foldedName, value] : key.values)
            out += (value.first.empty() ? std::string("@") : Quoted(value.first)) + "=" + Quoted(value.second) + "\n";
    }
    return out;
}

bool WriteAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file that path names once every symbolic link on the way is followed;
// the target need not exist yet.
fs::path LinkTarget(fs::path path, std::error_code& error) {
    for (int hops = 0; hops < 40; ++hops) {
        if (!fs::is_symlink(fs::symlink_status(path, error)) || error) {
            if (error == std::errc::no_such_file_or_directory) error.clear();
            return path;
        }
        const fs::path next = fs::read_symlink(path, error);
        if (error) return {};
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return {};
}

// The address of something in this library, for dladdr.
void Anchor() {}

}  // namespace

struct TKC_classesroot::TImpl {
    fs::path store;
    int lockFd = -1;
    bool dirty = false;
    std::map<std::string, TKey> keys;  // by folded name

    ~TImpl() {
        if (lockFd >= 0) ::close(lockFd);  // closing drops the lock
    }

    bool HasSubkeys(const std::string& folded) const {
        const std::string prefix = folded + '\\';
        const auto it = keys.lower_bound(prefix);
        return it != keys.end() && it->first.starts_with(prefix);
    }
};

TKC_classesroot::TKC_classesroot() : impl_(std::make_unique<TImpl>()) {}
TKC_classesroot::~TKC_classesroot() = default;

bool TKC_classesroot::Load() {
    const std::string location = ClassesRootLocation();
    if (location.empty()) return false;
    impl_->store = location;
    impl_->keys.clear();
    impl_->dirty = false;
    std::error_code error;
    if (impl_->store.has_parent_path()) fs::create_directories(impl_->store.parent_path(), error);
    if (error) return false;
    if (impl_->lockFd < 0) {
        const std::string lock = location + ".lock";
        impl_->lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (impl_->lockFd < 0) return false;
        while (::flock(impl_->lockFd, LOCK_EX) != 0)
            if (errno != EINTR) return false;
    }
    std::ifstream in(impl_->store, std::ios::binary);
    if (!in) return !fs::exists(impl_->store, error) && !error;
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad() || !Parse(content, impl_->keys)) {
        impl_->keys.clear();
        return false;
    }
    return true;
}

void TKC_classesroot::SetValue(std::u16string_view key, std::u16string_view valueName, std::u16string_view data) {
    const std::string name(Trimmed(Utf16ToUtf8(key)));
    TKey& entry = impl_->keys[Folded(name)];
    if (entry.name.empty()) entry.name = name;
    std::string valueName8 = Utf16ToUtf8(valueName), data8 = Utf16ToUtf8(data);
    auto& value = entry.values[Folded(valueName8)];
    if (value.first != valueName8 || value.second != data8) {
        value = {std::move(valueName8), std::move(data8)};
        impl_->dirty = true;
    }
}

bool TKC_classesroot::DeleteKey(std::u16string_view key) {
    const std::string folded = Folded(Trimmed(Utf16ToUtf8(key)));
    if (impl_->HasSubkeys(folded)) return false;
    if (impl_->keys.erase(folded) != 0) impl_->dirty = true;
    return true;
}

bool TKC_classesroot::Commit() {
    if (!impl_->dirty) return true;
    if (impl_->store.empty()) return false;
    const std::string content = Serialise(impl_->keys);
    // A store reached through a symbolic link is replaced where the link
    // points, so that the link stays; the new file keeps the old one's mode.
    std::error_code error;
    const fs::path target = LinkTarget(impl_->store, error);
    if (error) return false;
    struct stat old {};
    const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    std::string temp = target.string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    impl_->dirty = false;
    return true;
}

std::string ClassesRootLocation() {
    const auto variable = [](const char* name) -> std::string {
        const char* value = std::getenv(name);
        return value == nullptr ? std::string() : std::string(value);
    };
    if (auto explicitPath = variable("KESTRUNE_REGISTRY"); !explicitPath.empty()) return explicitPath;
    const std::string file = "/kestrune/HKEY_CLASSES_ROOT.reg";
    if (auto data = variable("XDG_DATA_HOME"); data.starts_with('/')) return data + file;
    if (auto home = variable("HOME"); !home.empty()) return home + "/.local/share" + file;
    return {};
}

std::u16string ThisModulePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&Anchor), &info) == 0 || info.dli_fname == nullptr) return {};
    std::error_code error;
    const fs::path path = fs::weakly_canonical(fs::absolute(info.dli_fname, error), error);
    return error ? std::u16string() : Utf8ToUtf16(path.string());
}

// Paths here have no short form; the registry store keeps them whole.
std::u16string InprocServerPath(const std::u16string& path) { return path; }

namespace {

// The platform's proxy for dual interfaces, which marshals them from the type library.
constexpr GUID PSOAInterface = {0x00020424, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct TTypeLibraryKeys {
    std::u16string version = u"TypeLib\\" + GuidText(LIBID_brindel_Kestrune) + u'\\' + LibraryVersionText();
    std::u16string iface = u"Interface\\" + GuidText(IID_IKestrune);
};

}  // namespace

// What the platform's type-library registration writes: the library under
// its version, and the interface with the marshaller that serves it.
bool RegisterTypeLibrary(TKC_classesroot& root, const std::u16string& path) {
    const TTypeLibraryKeys keys;
    const auto slash = path.find_last_of(u'/');
    root.SetValue(keys.version, u"", LibraryHelp);
    root.SetValue(keys.version + u"\\0\\win32", u"", path);
    root.SetValue(keys.version + u"\\FLAGS", u"", u"0");
    root.SetValue(keys.version + u"\\HELPDIR", u"", slash == std::u16string::npos ? u"" : path.substr(0, slash));
    root.SetValue(keys.iface, u"", InterfaceName);
    root.SetValue(keys.iface + u"\\ProxyStubClsid", u"", GuidText(PSOAInterface));
    root.SetValue(keys.iface + u"\\ProxyStubClsid32", u"", GuidText(PSOAInterface));
    root.SetValue(keys.iface + u"\\TypeLib", u"", GuidText(LIBID_brindel_Kestrune));
    root.SetValue(keys.iface + u"\\TypeLib", u"Version", LibraryVersionText());
    return true;
}

bool UnregisterTypeLibrary(TKC_classesroot& root) {
    const TTypeLibraryKeys keys;
    bool ok = true;
    for (const auto& key : {keys.iface + u"\\TypeLib", keys.iface + u"\\ProxyStubClsid32", keys.iface + u"\\ProxyStubClsid",
                            keys.iface, keys.version + u"\\0\\win32", keys.version + u"\\0", keys.version + u"\\FLAGS",
                            keys.version + u"\\HELPDIR", keys.version})
        ok = root.DeleteKey(key) && ok;
    return ok;
}

}  // namespace kestrune::automation
