#include "KCcodepage_pages.h"

namespace kestrune::tables {
namespace {

constexpr std::uint32_t Unset = 0x10000;

template <typename Apply>
void ForEach(const Run& run, std::span<const std::uint16_t> pool, Apply apply) {
    for (std::uint32_t i = 0; i < run.count; ++i) {
        const std::uint32_t value = run.kind == RunKind::Step ? run.value + i
                                    : run.kind == RunKind::Same ? run.value
                                                                : pool[run.value + i];
        apply(run.first + i, static_cast<std::uint16_t>(value));
    }
}

}  // namespace

std::vector<std::uint16_t> TCodePageConverter::DerivedEncoder(const CodePageData& data) {
    std::vector<std::uint32_t> first(0x10000, Unset);
    for (const Run& run : data.decoding) {
        if (run.kind == RunKind::Same) continue;
        ForEach(run, data.pool, [&](std::uint32_t code, std::uint16_t unit) {
            if (first[unit] == Unset) first[unit] = code;
        });
    }
    std::vector<std::uint16_t> encoder(0x10000);
    for (std::size_t u = 0; u < encoder.size(); ++u)
        encoder[u] = first[u] == Unset ? data.defaultCode : static_cast<std::uint16_t>(first[u]);
    return encoder;
}

TCodePageConverter::TCodePageConverter(const CodePageData& data) : encoder_(DerivedEncoder(data)) {
    for (const ByteRange& range : data.leadBytes)
        for (unsigned b = range.first; b <= range.last; ++b) lead_[b] = true;
    for (const std::uint8_t b : data.nonTrailBytes) nonTrail_[b] = true;
    if (!data.leadBytes.empty()) pairs_.assign(0x10000, u'\0');
    for (const Run& run : data.decoding) {
        ForEach(run, data.pool, [&](std::uint32_t code, std::uint16_t unit) {
            if (code < 0x100)
                single_[code] = unit;
            else
                pairs_.at(code) = unit;
        });
    }
    for (const Run& run : data.encoding)
        ForEach(run, data.pool, [&](std::uint32_t unit, std::uint16_t code) { encoder_[unit] = code; });
}

std::string TCodePageConverter::Encode(std::u16string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (const char16_t unit : text) {
        const std::uint16_t code = encoder_[unit];
        if (code > 0xFF) out.push_back(static_cast<char>(code >> 8));
        out.push_back(static_cast<char>(code & 0xFF));
    }
    return out;
}

std::u16string TCodePageConverter::Decode(std::string_view text) const {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        if (lead_[b] && i + 1 < text.size() && !nonTrail_[static_cast<std::uint8_t>(text[i + 1])]) {
            out.push_back(pairs_[b << 8 | static_cast<std::uint8_t>(text[++i])]);
        } else {
            out.push_back(single_[b]);
        }
    }
    return out;
}

}  // namespace kestrune::tables
