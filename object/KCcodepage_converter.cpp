#include "KCcodepage_pages.h"

#include <algorithm>

#include "KCcodepage_ascii.h"

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
    asciiRuns_ = true;
    for (std::uint16_t c = 0; c < 0x80; ++c)
        asciiRuns_ = asciiRuns_ && encoder_[c] == c && single_[c] == c && !lead_[c];
    twoByteCodes_ = std::any_of(encoder_.begin(), encoder_.end(), [](std::uint16_t code) { return code > 0xFF; });
}

// On a page with pairs, the units outside ASCII runs are counted for the
// second bytes they may take.
std::size_t TCodePageConverter::EncodedSize(std::u16string_view text) const noexcept {
    const std::uint16_t* const encoder = encoder_.data();
    std::size_t size = text.size();
    for (std::size_t i = 0; twoByteCodes_ && i < text.size();) {
        if (asciiRuns_) i += AsciiRuns(text.data() + i, text.size() - i);
        for (const std::size_t end = std::min(i + AsciiRun, text.size()); i < end; ++i)
            size += encoder[text[i]] > 0xFF;
    }
    return size;
}

void TCodePageConverter::EncodeTo(std::u16string_view text, char* p) const noexcept {
    const std::uint16_t* const encoder = encoder_.data();  // not reloaded after each byte stored
    for (std::size_t i = 0; i < text.size();) {
        if (asciiRuns_) {
            const std::size_t copied = CopyAsciiRuns(text.data() + i, text.size() - i, p);
            i += copied, p += copied;
        }
        for (const std::size_t end = std::min(i + AsciiRun, text.size()); i < end; ++i) {
            const std::uint16_t code = encoder[text[i]];
            if (code > 0xFF) *p++ = static_cast<char>(code >> 8);
            *p++ = static_cast<char>(code & 0xFF);
        }
    }
}

// Sized once: the text may be a password, and a string that grew would
// leave its first buffer behind unwiped.
std::string TCodePageConverter::Encode(std::u16string_view text) const {
    std::string out(EncodedSize(text), '\0');
    EncodeTo(text, out.data());
    return out;
}

std::optional<std::size_t> TCodePageConverter::Encode(std::u16string_view text, std::span<char> out) const {
    const std::size_t size = EncodedSize(text);
    if (size > out.size()) return std::nullopt;
    EncodeTo(text, out.data());
    return size;
}

// Never longer than the bytes: a pair becomes one unit.
std::u16string TCodePageConverter::Decode(std::string_view text) const {
    std::u16string out(text.size(), u'\0');
    char16_t* p = out.data();
    for (std::size_t i = 0; i < text.size();) {
        if (asciiRuns_) {
            const std::size_t copied = CopyAsciiRuns(text.data() + i, text.size() - i, p);
            i += copied, p += copied;
        }
        // A pair's trail byte may take i past end: the next pass starts after it.
        for (const std::size_t end = std::min(i + AsciiRun, text.size()); i < end; ++i) {
            const auto b = static_cast<std::uint8_t>(text[i]);
            if (lead_[b] && i + 1 < text.size() && !nonTrail_[static_cast<std::uint8_t>(text[i + 1])])
                *p++ = pairs_[b << 8 | static_cast<std::uint8_t>(text[++i])];
            else
                *p++ = single_[b];
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

}  // namespace kestrune::tables
