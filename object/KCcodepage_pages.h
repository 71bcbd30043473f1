// The portable converter for the ANSI code pages other than 1252: the
// generated tables (object/KCcodepage_cp*.cpp, written by
// tools/bestfit/gen_bestfit.cpp under Wine) and the lookup tables built from
// them on first use.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::tables {

// A stretch of consecutive keys and what each maps to: value + i (Step),
// value for all (Same), or Pool[value + i] (List).
enum class RunKind : std::uint8_t { Step, Same, List };

struct Run {
    std::uint16_t first;
    std::uint32_t count;
    std::uint32_t value;
    RunKind kind;
};

struct ByteRange {
    std::uint8_t first;
    std::uint8_t last;
};

// A code is a byte (0x00-0xFF) or a lead and trail byte pair (lead << 8 | trail).
struct CodePageData {
    unsigned codePage;
    // What a UTF-16 code unit that is neither mapped nor listed becomes.
    std::uint16_t defaultCode;
    std::span<const ByteRange> leadBytes;
    // Bytes that never end a pair: after a lead byte, each converts alone.
    std::span<const std::uint8_t> nonTrailBytes;
    // Codes to UTF-16 code units: every byte, every pair of every lead byte.
    std::span<const Run> decoding;
    // Code units to codes where the reverse of the decoding does not give
    // them: best-fit characters, and units with several codes. See
    // TCodePageConverter for the rule.
    std::span<const Run> encoding;
    std::span<const std::uint16_t> pool;
};

extern const CodePageData Cp874, Cp932, Cp936, Cp949, Cp950, Cp1250, Cp1251, Cp1253, Cp1254, Cp1255, Cp1256, Cp1257,
    Cp1258;

// Full lookup tables for one code page (about 256 KB for a double-byte page).
// Encoding: each code unit on its own becomes its code, one byte or two.
// Decoding: a lead byte and the next byte form a pair, unless the lead byte
// ends the text or the next byte never ends a pair; any other byte converts
// alone.
class TCodePageConverter {
public:
    explicit TCodePageConverter(const CodePageData& data);

    std::string Encode(std::u16string_view text) const;
    // Into out when it fits (nothing written otherwise); the bytes written.
    std::optional<std::size_t> Encode(std::u16string_view text, std::span<char> out) const;
    std::u16string Decode(std::string_view text) const;

    // The encoder as the rule alone gives it, before data.encoding applies:
    // the first code (bytes before pairs, ascending) of each unit in the
    // Step and List runs of the decoding; data.defaultCode for the rest.
    static std::vector<std::uint16_t> DerivedEncoder(const CodePageData& data);

private:
    std::size_t EncodedSize(std::u16string_view text) const noexcept;
    void EncodeTo(std::u16string_view text, char* out) const noexcept;

    std::array<bool, 256> lead_{};
    std::array<bool, 256> nonTrail_{};
    std::array<char16_t, 256> single_{};
    std::vector<char16_t> pairs_;  // lead << 8 | trail; empty for single-byte pages
    std::vector<std::uint16_t> encoder_;
    bool asciiRuns_ = false;     // ASCII maps to itself both ways: copied in runs
    bool twoByteCodes_ = false;  // some unit encodes as a pair
};

}  // namespace kestrune::tables
