#include "members.h"

#include <algorithm>
#include <memory>

namespace kestrune::cli {
namespace {

std::u16string_view Text(std::span<const TValue> args, std::size_t i) { return std::get<std::u16string>(args[i]); }
std::int32_t Long(std::span<const TValue> args, std::size_t i) { return std::get<std::int32_t>(args[i]); }

class TBatchContext final : public IKC_pagecontext {
public:
    explicit TBatchContext(bool offers) noexcept : offers_(offers) {}
    std::shared_ptr<void> QueryScriptingContext() override { return offers_ ? std::make_shared<int>(0) : nullptr; }

private:
    bool offers_;
};

constexpr TParam Algorithm{"Algorithm", TParamType::Long, true, -1};

constexpr TParam OnStartPageParams[] = {{"AScriptingContext", TParamType::Unknown}};
constexpr TParam HashStringParams[] = {{"InputStr", TParamType::String}, Algorithm};
constexpr TParam HashFileParams[] = {{"Filename", TParamType::String}, Algorithm};
constexpr TParam StringCipherParams[] = {{"InputStr", TParamType::String}, {"Password", TParamType::String}, Algorithm};
constexpr TParam FileCipherParams[] = {{"SourceFilename", TParamType::String},
                                       {"DestFilename", TParamType::String},
                                       {"Password", TParamType::String},
                                       Algorithm};
constexpr TParam GenPasswordParams[] = {{"MaxLength", TParamType::Long, true, 8},
                                        {"Style", TParamType::String, true, 0, u""}};
constexpr TParam HashSizeParams[] = {Algorithm};

using TArgs = std::span<const TValue>;

TValue OnStartPage(TKestrune& o, TArgs a) {
    TBatchContext context(std::get<THostContext>(a[0]).offersScriptingContext);
    o.OnStartPage(&context);
    return {};
}
TValue OnEndPage(TKestrune& o, TArgs) {
    o.OnEndPage();
    return {};
}
TValue HashString(TKestrune& o, TArgs a) { return o.HashString(Text(a, 0), Long(a, 1)); }
TValue HashFile(TKestrune& o, TArgs a) { return o.HashFile(Text(a, 0), Long(a, 1)); }
TValue EncryptString(TKestrune& o, TArgs a) { return o.EncryptString(Text(a, 0), Text(a, 1), Long(a, 2)); }
TValue EncryptFile(TKestrune& o, TArgs a) { return o.EncryptFile(Text(a, 0), Text(a, 1), Text(a, 2), Long(a, 3)); }
TValue DecryptString(TKestrune& o, TArgs a) { return o.DecryptString(Text(a, 0), Text(a, 1), Long(a, 2)); }
TValue DecryptFile(TKestrune& o, TArgs a) { return o.DecryptFile(Text(a, 0), Text(a, 1), Text(a, 2), Long(a, 3)); }
TValue GenPassword(TKestrune& o, TArgs a) { return o.GenPassword(Long(a, 0), Text(a, 1)); }
TValue HashSize(TKestrune& o, TArgs a) { return o.HashSize(Long(a, 0)); }
TValue GetHashAlgorithm(TKestrune& o, TArgs) { return o.GetHashAlgorithm(); }
void PutHashAlgorithm(TKestrune& o, std::int32_t value) { o.SetHashAlgorithm(value); }
TValue GetCipherAlgorithm(TKestrune& o, TArgs) { return o.GetCipherAlgorithm(); }
void PutCipherAlgorithm(TKestrune& o, std::int32_t value) { o.SetCipherAlgorithm(value); }
TValue GetCipherMode(TKestrune& o, TArgs) { return o.GetCipherMode(); }
void PutCipherMode(TKestrune& o, std::int32_t value) { o.SetCipherMode(value); }
TValue GetMaxKeySize(TKestrune& o, TArgs) { return o.MaxKeySize(); }

using enum TMemberKind;

// In declaration order of the dispatch interface.
const TMember Members[] = {
    {201, "OnStartPage", Method, OnStartPageParams, OnStartPage, nullptr},
    {202, "OnEndPage", Method, {}, OnEndPage, nullptr},
    {203, "HashString", Method, HashStringParams, HashString, nullptr},
    {204, "HashFile", Method, HashFileParams, HashFile, nullptr},
    {205, "EncryptString", Method, StringCipherParams, EncryptString, nullptr},
    {206, "EncryptFile", Method, FileCipherParams, EncryptFile, nullptr},
    {207, "DecryptString", Method, StringCipherParams, DecryptString, nullptr},
    {208, "DecryptFile", Method, FileCipherParams, DecryptFile, nullptr},
    {209, "HashAlgorithm", Property, {}, GetHashAlgorithm, PutHashAlgorithm},
    {210, "CipherAlgorithm", Property, {}, GetCipherAlgorithm, PutCipherAlgorithm},
    {211, "GenPassword", Method, GenPasswordParams, GenPassword, nullptr},
    {215, "HashSize", Method, HashSizeParams, HashSize, nullptr},
    {214, "CipherMode", Property, {}, GetCipherMode, PutCipherMode},
    {216, "MaxKeySize", ReadOnlyProperty, {}, GetMaxKeySize, nullptr},
};

bool SameName(std::string_view a, std::string_view b) noexcept {
    return std::ranges::equal(a, b, [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

}  // namespace

std::span<const TMember> KestruneMembers() noexcept { return Members; }

const TMember* FindMember(std::string_view name) noexcept {
    for (const auto& member : Members)
        if (SameName(member.name, name)) return &member;
    return nullptr;
}

TValue DefaultOf(const TParam& param) {
    switch (param.type) {
        case TParamType::Long: return param.longDefault;
        case TParamType::String: return std::u16string(param.stringDefault);
        case TParamType::Unknown: break;
    }
    return {};
}

std::size_t RequiredCount(const TMember& member) noexcept {
    return static_cast<std::size_t>(std::ranges::count_if(member.params, [](const TParam& p) { return !p.optional; }));
}

}  // namespace kestrune::cli
