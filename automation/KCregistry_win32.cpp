// HKEY_CLASSES_ROOT and type-library registration through the platform.
#include "automation/KCregistry.h"

#include "automation/KCole.h"
#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {
namespace {

std::wstring Wide(std::u16string_view text) { return {text.begin(), text.end()}; }

// The address of something in this library, for GetModuleHandleExW.
void Anchor() {}

// The platform's registry names the DLL by machine word size.
constexpr SYSKIND ThisSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

}  // namespace

struct TKC_classesroot::TImpl {
    bool failed = false;
};

TKC_classesroot::TKC_classesroot() : impl_(std::make_unique<TImpl>()) {}
TKC_classesroot::~TKC_classesroot() = default;

bool TKC_classesroot::Load() {
    impl_->failed = false;
    return true;
}

void TKC_classesroot::SetValue(std::u16string_view key, std::u16string_view valueName, std::u16string_view data) {
    const std::wstring name = Wide(key), value = Wide(valueName), text = Wide(data);
    HKEY handle = nullptr;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                          &handle, nullptr) != ERROR_SUCCESS) {
        impl_->failed = true;
        return;
    }
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    if (::RegSetValueExW(handle, value.empty() ? nullptr : value.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(text.c_str()), bytes) != ERROR_SUCCESS)
        impl_->failed = true;
    ::RegCloseKey(handle);
}

bool TKC_classesroot::DeleteKey(std::u16string_view key) {
    const std::wstring name = Wide(key);
    const LSTATUS status = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, name.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool TKC_classesroot::Commit() { return !impl_->failed; }

std::string ClassesRootLocation() { return {}; }

std::u16string ThisModulePath() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&Anchor), &module))
        return {};
    // Long paths need a larger buffer than MAX_PATH; a full buffer means the path was cut short.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return {path.begin(), path.begin() + length};
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::u16string InprocServerPath(const std::u16string& path) {
    if (path.find(u' ') == std::u16string::npos) return path;
    const std::wstring full = Wide(path);
    const DWORD needed = ::GetShortPathNameW(full.c_str(), nullptr, 0);
    if (needed == 0) return {};
    std::wstring shortPath(needed, L'\0');
    const DWORD length = ::GetShortPathNameW(full.c_str(), shortPath.data(), needed);
    if (length == 0 || length >= needed) return {};
    // A volume without short names hands back the long form, spaces and
    // all: that still names the file, so it is recorded as it is.
    return {shortPath.begin(), shortPath.begin() + length};
}

bool RegisterTypeLibrary(TKC_classesroot&, const std::u16string& path) {
    std::wstring file = Wide(path);
    TComPtr<ITypeLib> library;
    if (FAILED(::LoadTypeLibEx(file.c_str(), REGKIND_NONE, library.Put()))) return false;
    return SUCCEEDED(::RegisterTypeLib(library.Get(), file.data(), nullptr));
}

bool UnregisterTypeLibrary(TKC_classesroot&) {
    // Not registered is as good as removed; the platform's answer for that
    // case differs between its versions, so the key is looked at first.
    const std::wstring key = Wide(u"TypeLib\\" + GuidText(LIBID_brindel_Kestrune) + u'\\' + LibraryVersionText());
    HKEY handle = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status == ERROR_SUCCESS) ::RegCloseKey(handle);
    return SUCCEEDED(::UnRegisterTypeLib(LIBID_brindel_Kestrune, LibraryMajorVersion, LibraryMinorVersion,
                                         LibraryLocale, ThisSysKind));
}

}  // namespace kestrune::automation
