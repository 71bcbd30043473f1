#include "KCtea.h"

#include <algorithm>

namespace kestrune {
namespace {

constexpr std::uint32_t Delta = 0x9E3779B9;
constexpr std::uint32_t FinalSum = Delta * 32;  // 0xC6EF3720 modulo 2^32

}  // namespace

void TKC_tea::ExpandKey(ConstBytes key, std::uint32_t keyBits) {
    // Shorter keys are padded with zero bytes at the end.
    std::array<std::uint8_t, 16> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    for (std::size_t i = 0; i < 4; ++i) KeyWords[i] = LoadBE32(ConstBytes(padded).subspan(4 * i));
    SecureZero(padded);
}

// This system's round adds three terms, combining the key words with the
// half by xor and the sum with the shifted half by xor; the published TEA
// xors ((z << 4) + K0), (z + sum) and ((z >> 5) + K1) instead. Stored data
// depends on this form, so it must stay as it is.
void TKC_tea::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto [k0, k1, k2, k3] = KeyWords;
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t y = LoadBE32(source.subspan(off)), z = LoadBE32(source.subspan(off + 4));
        std::uint32_t sum = 0;
        for (int round = 0; round < 32; ++round) {
            sum += Delta;
            y += (z << 4) + (k0 ^ z) + (sum ^ (z >> 5)) + k1;
            z += (y << 4) + (k2 ^ y) + (sum ^ (y >> 5)) + k3;
        }
        StoreBE32(dest.subspan(off), y);
        StoreBE32(dest.subspan(off + 4), z);
    }
}

void TKC_tea::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto [k0, k1, k2, k3] = KeyWords;
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t y = LoadBE32(source.subspan(off)), z = LoadBE32(source.subspan(off + 4));
        std::uint32_t sum = FinalSum;
        for (int round = 0; round < 32; ++round) {
            z -= (y << 4) + (k2 ^ y) + (sum ^ (y >> 5)) + k3;
            y -= (z << 4) + (k0 ^ z) + (sum ^ (z >> 5)) + k1;
            sum -= Delta;
        }
        StoreBE32(dest.subspan(off), y);
        StoreBE32(dest.subspan(off + 4), z);
    }
}

// No published vector applies to this variant: require that encryption
// changes the block and that decryption restores it. The block is the first
// eight bytes of the key.
bool TKC_tea::SelfTest() {
    static constexpr std::string_view keyText = "Kestrune TEA key";
    const ConstBytes key(reinterpret_cast<const std::uint8_t*>(keyText.data()), keyText.size());
    TKC_tea cipher;
    cipher.Init(key, 128);
    Block block;
    std::copy_n(key.begin(), 8, block.begin());
    cipher.EncryptBlock(block, block);
    const bool changed = !std::equal(block.begin(), block.end(), key.begin());
    cipher.DecryptBlock(block, block);
    const bool restored = std::equal(block.begin(), block.end(), key.begin());
    cipher.Wipe();
    return changed && restored;
}

}  // namespace kestrune
