#include "KCbase64.h"

#include <array>

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

}  // namespace

std::size_t EncodeBase64(ConstBytes source, std::span<char> dest) noexcept {
    std::size_t out = 0;
    std::size_t i = 0;
    for (; i + 3 <= source.size(); i += 3) {
        const unsigned a = source[i], b = source[i + 1], c = source[i + 2];
        dest[out++] = Alphabet[a >> 2];
        dest[out++] = Alphabet[((a & 3) << 4) | (b >> 4)];
        dest[out++] = Alphabet[((b & 15) << 2) | (c >> 6)];
        dest[out++] = Alphabet[c & 63];
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
    for (std::size_t g = 0; g + 4 <= source.size(); g += 4) {
        for (std::size_t k = 0; k < 4; ++k) {
            const std::uint8_t value = DecodeTable[static_cast<std::uint8_t>(source[g + k])];
            if (value != NotInAlphabet) v[k] = value;
        }
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
