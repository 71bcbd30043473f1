// Registration: the type library's entries and the class's entries under
// HKEY_CLASSES_ROOT, written and removed in one commit.
#include <array>
#include <string>

#include "automation/KCregistry.h"
#include "automation/KCserver.h"
#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {
namespace {

// The platform's proxy for dual interfaces, which marshals them from the type library.
constexpr GUID PSOAInterface = {0x00020424, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::u16string VersionText() {
    return std::u16string(1, static_cast<char16_t>(u'0' + LibraryMajorVersion)) + u'.' +
           static_cast<char16_t>(u'0' + LibraryMinorVersion);
}

struct TKeys {
    std::u16string clsid = u"CLSID\\" + GuidText(CLSID_Kestrune);
    std::u16string server = clsid + u"\\InprocServer32";
    std::u16string progId{ProgId};
    std::u16string typeLib = u"TypeLib\\" + GuidText(LIBID_brindel_Kestrune);
    std::u16string typeLibVersion = typeLib + u'\\' + VersionText();
    std::u16string iface = u"Interface\\" + GuidText(IID_IKestrune);
};

std::u16string DirectoryOf(const std::u16string& path) {
    const auto slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// What the platform's type-library registration writes: the library under
// its version, and the interface with the marshaller that serves it.
void RegisterTypeLibrary(TKC_classesroot& root, const TKeys& keys, const std::u16string& path) {
    root.SetValue(keys.typeLibVersion, u"", LibraryHelp);
    root.SetValue(keys.typeLibVersion + u"\\0\\win32", u"", path);
    root.SetValue(keys.typeLibVersion + u"\\FLAGS", u"", u"0");
    root.SetValue(keys.typeLibVersion + u"\\HELPDIR", u"", DirectoryOf(path));
    root.SetValue(keys.iface, u"", InterfaceName);
    root.SetValue(keys.iface + u"\\ProxyStubClsid", u"", GuidText(PSOAInterface));
    root.SetValue(keys.iface + u"\\ProxyStubClsid32", u"", GuidText(PSOAInterface));
    root.SetValue(keys.iface + u"\\TypeLib", u"", GuidText(LIBID_brindel_Kestrune));
    root.SetValue(keys.iface + u"\\TypeLib", u"Version", VersionText());
}

bool UnregisterTypeLibrary(TKC_classesroot& root, const TKeys& keys) {
    bool ok = true;
    for (const auto& key :
         {keys.iface + u"\\TypeLib", keys.iface + u"\\ProxyStubClsid32", keys.iface + u"\\ProxyStubClsid", keys.iface,
          keys.typeLibVersion + u"\\0\\win32", keys.typeLibVersion + u"\\0", keys.typeLibVersion + u"\\FLAGS",
          keys.typeLibVersion + u"\\HELPDIR", keys.typeLibVersion})
        ok = root.DeleteKey(key) && ok;
    return ok;
}

}  // namespace
}  // namespace kestrune::automation

using namespace kestrune::automation;

STDAPI DllRegisterServer() {
    try {
        const std::u16string path = ThisModulePath();
        TKC_classesroot root;
        if (path.empty() || !root.Load()) return E_FAIL;
        const TKeys keys;
        RegisterTypeLibrary(root, keys, path);
        root.SetValue(keys.clsid, u"", ClassHelp);
        root.SetValue(keys.server, u"", path);
        root.SetValue(keys.server, u"ThreadingModel", ThreadingModel);
        root.SetValue(keys.progId, u"", ClassHelp);
        root.SetValue(keys.progId + u"\\Clsid", u"", GuidText(CLSID_Kestrune));
        root.SetValue(keys.clsid + u"\\ProgID", u"", ProgId);
        root.SetValue(keys.clsid + u"\\Version", u"", VersionText());
        root.SetValue(keys.clsid + u"\\TypeLib", u"", GuidText(LIBID_brindel_Kestrune));
        return root.Commit() ? S_OK : E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

// Every step is tried; the removals that succeed are kept even when another fails.
STDAPI DllUnregisterServer() {
    try {
        TKC_classesroot root;
        if (!root.Load()) return E_FAIL;
        const TKeys keys;
        bool ok = UnregisterTypeLibrary(root, keys);
        for (const auto& key : {keys.clsid + u"\\TypeLib", keys.clsid + u"\\Version", keys.clsid + u"\\ProgID",
                                keys.progId + u"\\Clsid", keys.progId, keys.server, keys.clsid})
            ok = root.DeleteKey(key) && ok;
        return root.Commit() && ok ? S_OK : E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}
