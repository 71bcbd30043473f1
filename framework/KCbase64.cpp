#include "KCbase64.h"

#include <array>
#include <cstring>

namespace kestrune {
namespace {

constexpr std::string_view Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t PadValue = 255;
constexpr std::uint8_t NotInAlphabet = 254;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(NotInAlphabet);
    for (std::size_t i = 0; i < Alphabet.size(); ++i) table[static_cast<std::uint8_t>(Alphabet[i])] = static_cast<std::uint8_t>(i);
    table['='] = PadValue;
    return table;
}
constexpr auto DecodeTable = MakeDecodeTable();

// The two characters of every 12 bits: half the look-ups and stores of one
// character at a time, which cost more than the cipher on short texts.
constexpr std::array<std::array<char, 2>, 4096> MakePairTable() {
    std::array<std::array<char, 2>, 4096> table{};
    for (std::size_t v = 0; v < table.size(); ++v) table[v] = {Alphabet[v >> 6], Alphabet[v & 63]};
    return table;
}
constexpr auto PairTable = MakePairTable();

}  // namespace

std::size_t EncodeBase64(ConstBytes source, std::span<char> dest) noexcept {
    std::size_t out = 0;
    std::size_t i = 0;
    char* const text = dest.data();
    for (; i + 3 <= source.size(); i += 3, out += 4) {
        const std::uint32_t group = std::uint32_t{source[i]} << 16 | std::uint32_t{source[i + 1]} << 8 | source[i + 2];
        std::memcpy(text + out, PairTable[group >> 12].data(), 2);
        std::memcpy(text + out + 2, PairTable[group & 0xFFF].data(), 2);
    }
    const std::size_t rest = source.size() - i;
    if (rest == 1) {
        const unsigned a = source[i];
        dest[out++] = Alphabet[a >> 2];
        dest[out++] = Alphabet[(a & 3) << 4];
        dest[out++] = '=';
        dest[out++] = '=';
    } else if (rest == 2) {
        const unsigned a = source[i], b = source[i + 1];
        dest[out++] = Alphabet[a >> 2];
        dest[out++] = Alphabet[((a & 3) << 4) | (b >> 4)];
        dest[out++] = Alphabet[(b & 15) << 2];
        dest[out++] = '=';
    }
    return out;
}

std::size_t DecodeBase64(std::string_view source, Bytes dest) noexcept {
    // A character outside the alphabet keeps the value that its position
    // held in the previous group (0 in the first group).
    std::array<std::uint8_t, 4> v{};
    std::size_t out = 0;
    std::uint8_t* const bytes = dest.data();
    for (std::size_t g = 0; g + 4 <= source.size(); g += 4) {
        const std::uint8_t a = DecodeTable[static_cast<std::uint8_t>(source[g])];
        const std::uint8_t b = DecodeTable[static_cast<std::uint8_t>(source[g + 1])];
        const std::uint8_t c = DecodeTable[static_cast<std::uint8_t>(source[g + 2])];
        const std::uint8_t d = DecodeTable[static_cast<std::uint8_t>(source[g + 3])];
        // Four characters of the alphabet, as nearly every group is: three
        // bytes, and the rules below have nothing to keep.
        if ((a | b | c | d) < 64) {
            v = {a, b, c, d};
            const std::uint32_t group = std::uint32_t{a} << 18 | std::uint32_t{b} << 12 | std::uint32_t{c} << 6 | d;
            bytes[out] = static_cast<std::uint8_t>(group >> 16);
            bytes[out + 1] = static_cast<std::uint8_t>(group >> 8);
            bytes[out + 2] = static_cast<std::uint8_t>(group);
            out += 3;
            continue;
        }
        const std::uint8_t values[4] = {a, b, c, d};
        for (std::size_t k = 0; k < 4; ++k)
            if (values[k] != NotInAlphabet) v[k] = values[k];
        dest[out++] = static_cast<std::uint8_t>((v[0] << 2) | (v[1] >> 4));
        if (v[2] == PadValue) continue;
        dest[out++] = static_cast<std::uint8_t>((v[1] << 4) | (v[2] >> 2));
        if (v[3] == PadValue) continue;
        dest[out++] = static_cast<std::uint8_t>((v[2] << 6) | v[3]);
    }
    return out;
}

std::string EncodeBase64String(std::string_view bytes) {
    std::string text(Base64EncodedSize(bytes.size()), '\0');
    EncodeBase64(ConstBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), text);
    return text;
}

std::string DecodeBase64String(std::string_view text) {
    std::string bytes(text.size() / 4 * 3, '\0');
    const std::size_t written = DecodeBase64(text, Bytes(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
    bytes.resize(written);
    return bytes;
}

}  // namespace kestrune
