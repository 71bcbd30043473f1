// Registration: the type library, and the class's entries under
// HKEY_CLASSES_ROOT, written and removed together.
#include <string>

#include "automation/KCregistry.h"
#include "automation/KCserver.h"
#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {
namespace {

struct TKeys {
    std::u16string clsid = u"CLSID\\" + GuidText(CLSID_Kestrune);
    std::u16string server = clsid + u"\\InprocServer32";
    std::u16string progId{ProgId};
};

}  // namespace
}  // namespace kestrune::automation

using namespace kestrune::automation;

STDAPI DllRegisterServer() {
    try {
        const std::u16string path = ThisModulePath();
        TKC_classesroot root;
        if (path.empty() || !root.Load()) return E_FAIL;
        const std::u16string serverPath = InprocServerPath(path);
        if (serverPath.empty() || !RegisterTypeLibrary(root, path)) return E_FAIL;
        const TKeys keys;
        root.SetValue(keys.clsid, u"", ClassHelp);
        root.SetValue(keys.server, u"", serverPath);
        root.SetValue(keys.server, u"ThreadingModel", ThreadingModel);
        root.SetValue(keys.progId, u"", ClassHelp);
        root.SetValue(keys.progId + u"\\Clsid", u"", GuidText(CLSID_Kestrune));
        root.SetValue(keys.clsid + u"\\ProgID", u"", ProgId);
        root.SetValue(keys.clsid + u"\\Version", u"", LibraryVersionText());
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
        bool ok = UnregisterTypeLibrary(root);
        for (const auto& key : {keys.clsid + u"\\TypeLib", keys.clsid + u"\\Version", keys.clsid + u"\\ProgID",
                                keys.progId + u"\\Clsid", keys.progId, keys.server, keys.clsid})
            ok = root.DeleteKey(key) && ok;
        return root.Commit() && ok ? S_OK : E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}
