#include "KCcodepage_pages.h"

#include <stdexcept>

#include "KCcodepage.h"

namespace kestrune {
namespace {

template <const tables::CodePageData& Data>
const tables::TCodePageConverter& Converter() {
    static const tables::TCodePageConverter converter(Data);
    return converter;
}

struct TCodePageEntry {
    unsigned codePage;
    std::string_view name;
    const tables::TCodePageConverter& (*converter)();  // null: Windows-1252's own converter
};

constexpr TCodePageEntry CodePages[] = {
    {874, "Windows-874 (Thai)", &Converter<tables::Cp874>},
    {932, "Windows-932 (Japanese, Shift JIS)", &Converter<tables::Cp932>},
    {936, "Windows-936 (Simplified Chinese, GBK)", &Converter<tables::Cp936>},
    {949, "Windows-949 (Korean)", &Converter<tables::Cp949>},
    {950, "Windows-950 (Traditional Chinese, Big5)", &Converter<tables::Cp950>},
    {1250, "Windows-1250", &Converter<tables::Cp1250>},
    {1251, "Windows-1251", &Converter<tables::Cp1251>},
    {1252, "Windows-1252", nullptr},
    {1253, "Windows-1253", &Converter<tables::Cp1253>},
    {1254, "Windows-1254", &Converter<tables::Cp1254>},
    {1255, "Windows-1255", &Converter<tables::Cp1255>},
    {1256, "Windows-1256", &Converter<tables::Cp1256>},
    {1257, "Windows-1257", &Converter<tables::Cp1257>},
    {1258, "Windows-1258", &Converter<tables::Cp1258>},
};

const TCodePageEntry* Find(unsigned codePage) noexcept {
    // Every string call asks; most convert in the default page.
    static constexpr const TCodePageEntry* Default = &CodePages[7];
    static_assert(Default->codePage == 1252);
    if (codePage == Default->codePage) return Default;
    for (const auto& entry : CodePages)
        if (entry.codePage == codePage) return &entry;
    return nullptr;
}

const TCodePageEntry& Supported(unsigned codePage) {
    if (const auto* entry = Find(codePage)) return *entry;
    throw std::invalid_argument("code page " + std::to_string(codePage) + " is not supported; " + SupportedCodePageList());
}

}  // namespace

std::vector<unsigned> SupportedCodePages() {
    std::vector<unsigned> pages;
    for (const auto& entry : CodePages) pages.push_back(entry.codePage);
    return pages;
}

std::string SupportedCodePageList() {
    std::string list = "the supported code pages are";
    for (const auto& entry : CodePages) list += (&entry == CodePages ? " " : ", ") + std::to_string(entry.codePage);
    return list;
}

std::string CodePageName(unsigned codePage) {
    if (const auto* entry = Find(codePage)) return std::string(entry->name);
    return "code page " + std::to_string(codePage);
}

unsigned ParseCodePage(std::string_view text) {
    unsigned value = 0;
    bool digits = !text.empty() && text.size() <= 5;
    for (const char c : text) {
        digits = digits && c >= '0' && c <= '9';
        if (digits) value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (!digits || !Find(value))
        throw std::invalid_argument("code page '" + std::string(text) + "' is not supported; " + SupportedCodePageList());
    return value;
}

std::string ToCodePage(unsigned codePage, std::u16string_view text) {
    const auto& entry = Supported(codePage);
    return entry.converter ? entry.converter().Encode(text) : ToCp1252(text);
}

std::optional<std::size_t> ToCodePage(unsigned codePage, std::u16string_view text, std::span<char> out) {
    const auto& entry = Supported(codePage);
    if (entry.converter) return entry.converter().Encode(text, out);
    if (text.size() > out.size()) return std::nullopt;
    ToCp1252(text, out.data());
    return text.size();
}

std::u16string FromCodePage(unsigned codePage, std::string_view text) {
    const auto& entry = Supported(codePage);
    return entry.converter ? entry.converter().Decode(text) : FromCp1252(text);
}

}  // namespace kestrune
