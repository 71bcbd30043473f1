#include "automation/KCidl.h"

#include <ostream>
#include <string>

#include "automation/brindel_Kestrune_TLB.h"

namespace kestrune::automation {
namespace {

std::string Ascii(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

// The identifier without its braces, as uuid() takes it.
std::string Uuid(REFGUID guid) {
    const std::string text = Ascii(GuidText(guid));
    return text.substr(1, text.size() - 2);
}

const char* TypeName(VARTYPE type) {
    switch (type) {
        case VT_BSTR: return "BSTR";
        case VT_I4: return "long";
        case VT_UNKNOWN: return "IUnknown*";
        default: return "VARIANT";
    }
}

std::string Param(const TKC_param& param) {
    std::string text = "[in";
    if (param.optional) {
        text += ", optional, defaultvalue(";
        if (param.type == VT_BSTR)
            text.append("\"").append(Ascii(param.textDefault)).append("\"");
        else
            text += std::to_string(param.longDefault);
        text += ")";
    }
    return text + "] " + TypeName(param.type) + " " + Ascii(param.name);
}

void Function(std::ostream& out, const std::string& attributes, const std::string& name, const std::string& params) {
    out << "        [" << attributes << "]\n        HRESULT " << name << "(" << params << ");\n";
}

}  // namespace

void WriteIdl(std::ostream& out) {
    out << "// The type library of brindel_Kestrune. Written by kestrune_idl from the member table in\n"
           "// brindel_Kestrune_TLB.cpp: change the table, then run kestrune_idl > brindel_Kestrune.idl.\n"
           "import \"oaidl.idl\";\n"
           "import \"ocidl.idl\";\n\n"
           "[\n"
           "    uuid("
        << Uuid(LIBID_brindel_Kestrune) << "),\n    version(" << LibraryMajorVersion << "." << LibraryMinorVersion
        << "),\n    helpstring(\"" << Ascii(LibraryHelp) << "\"),\n    lcid(0x0409)\n]\nlibrary " << Ascii(LibraryName)
        << "\n{\n    importlib(\"stdole2.tlb\");\n\n    interface " << Ascii(InterfaceName) << ";\n\n    [\n        uuid("
        << Uuid(IID_IKestrune) << "),\n        version(" << LibraryMajorVersion << "." << LibraryMinorVersion
        << "),\n        helpstring(\"" << Ascii(InterfaceHelp) << "\"),\n        dual,\n        oleautomation\n    ]\n"
        << "    interface " << Ascii(InterfaceName) << " : IDispatch\n    {\n";
    for (const auto& member : KestruneMembers()) {
        const std::string name = Ascii(member.name), id = "id(" + std::to_string(member.dispid) + ")";
        const std::string result = member.result == VT_EMPTY
                                       ? std::string()
                                       : std::string("[out, retval] ") + TypeName(member.result) + "* " + Ascii(member.resultName);
        if (member.kind == TKC_memberkind::Method) {
            std::string params;
            for (const auto& param : member.params) params += (params.empty() ? "" : ", ") + Param(param);
            if (!result.empty()) params += (params.empty() ? "" : ", ") + result;
            Function(out, id, name, params);
            continue;
        }
        Function(out, "propget, " + id, name, result);
        if (member.put != nullptr)
            Function(out, "propput, " + id, name, std::string("[in] ") + TypeName(member.result) + " " + Ascii(member.resultName));
    }
    out << "    };\n\n    [\n        uuid(" << Uuid(CLSID_Kestrune) << "),\n        version(" << LibraryMajorVersion << "."
        << LibraryMinorVersion << "),\n        helpstring(\"" << Ascii(ClassHelp) << "\")\n    ]\n    coclass "
        << Ascii(ClassName) << "\n    {\n        [default] interface " << Ascii(InterfaceName) << ";\n    };\n};\n";
}

}  // namespace kestrune::automation
