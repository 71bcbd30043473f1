// Buffering, bit counting and padding shared by the digests that compress
// fixed-size blocks (Merkle-Damgard construction). A digest supplies its
// initial state, its compression function and its final trailer.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "KCcrypt.h"

namespace kestrune {

template <std::size_t BlockBytes, typename StateWords>
class TKC_mdhash : public TKC_hash {
public:
    // A new instance holds nothing to wipe, and Start and Absorb write the
    // state and buffer before anything reads them. Wiped here, they cost a
    // one-shot digest a fifth of its time: the state's narrow stores were
    // still in flight when the first compression loaded it whole.
    TKC_mdhash() noexcept : BufferFill(0), BitCountLow(0), BitCountHigh(0) {}
    ~TKC_mdhash() override { ClearState(); }

    void Wipe() noexcept override {
        ClearState();
        TKC_hash::Wipe();
    }

protected:
    // Compresses whole blocks (blocks.size() is a multiple of BlockBytes)
    // into ChainState.
    virtual void Compress(ConstBytes blocks) noexcept = 0;

    void Absorb(ConstBytes data) noexcept final {
        // 128-bit count of message bits, wrapping; digests with a 64-bit
        // length field use the low half only.
        const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) << 3;
        BitCountLow += bits;
        BitCountHigh += (BitCountLow < bits ? 1 : 0) + (static_cast<std::uint64_t>(data.size()) >> 61);
        if (BufferFill > 0) {
            const std::size_t take = std::min(BlockBytes - BufferFill, data.size());
            std::copy_n(data.begin(), take, BlockBuffer.begin() + static_cast<std::ptrdiff_t>(BufferFill));
            BufferFill += take;
            data = data.subspan(take);
            if (BufferFill < BlockBytes) return;
            Compress(BlockBuffer);
            BufferFill = 0;
        }
        const std::size_t whole = data.size() / BlockBytes * BlockBytes;
        if (whole > 0) Compress(data.first(whole));
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(whole), data.end(), BlockBuffer.begin());
        BufferFill = data.size() - whole;
    }

    // Appends padByte and zeros and ends the last block with trailer
    // (usually the bit count), compressing one or two blocks.
    void Pad(std::uint8_t padByte, ConstBytes trailer) noexcept {
        std::fill(BlockBuffer.begin() + static_cast<std::ptrdiff_t>(BufferFill), BlockBuffer.end(), 0);
        BlockBuffer[BufferFill] = padByte;
        if (BufferFill + 1 + trailer.size() > BlockBytes) {
            Compress(BlockBuffer);
            BlockBuffer.fill(0);
        }
        std::copy(trailer.begin(), trailer.end(), BlockBuffer.end() - static_cast<std::ptrdiff_t>(trailer.size()));
        Compress(BlockBuffer);
        BufferFill = 0;
    }

    // The usual trailer: padByte, zeros, then the bit count in lengthBytes
    // (8 or 16) bytes of the given byte order.
    void PadWithLength(std::uint8_t padByte, std::size_t lengthBytes, std::endian order) noexcept {
        std::array<std::uint8_t, 16> length{};
        const auto tail = Bytes(length).first(lengthBytes);
        if (order == std::endian::little) {
            StoreLE64(tail, BitCountLow);
            if (lengthBytes == 16) StoreLE64(tail.subspan(8), BitCountHigh);
        } else if (lengthBytes == 16) {
            StoreBE64(tail, BitCountHigh);
            StoreBE64(tail.subspan(8), BitCountLow);
        } else {
            StoreBE64(tail, BitCountLow);
        }
        Pad(padByte, tail);
    }

    // Writes the first digest.size() bytes of the state words, each in the
    // given byte order. Straight into digest, eight bytes a store where the
    // words are smaller: its reader loads them back eight at a time, and a
    // load that spans several narrower stores waits until they have left.
    void StoreState(Bytes digest, std::endian order) const noexcept {
        using Word = typename StateWords::value_type;
        const auto ordered = [&](std::size_t i) { return order == std::endian::native ? ChainState[i] : ByteSwap(ChainState[i]); };
        std::size_t i = 0, at = 0;
        if constexpr (sizeof(Word) == 4) {
            for (; at + 8 <= digest.size(); at += 8, i += 2) {
                const std::uint64_t first = ordered(i), second = ordered(i + 1);
                const std::uint64_t pair =
                    std::endian::native == std::endian::little ? first | second << 32 : first << 32 | second;
                std::memcpy(digest.data() + at, &pair, 8);
            }
        }
        for (; at + sizeof(Word) <= digest.size(); at += sizeof(Word), ++i) {
            const Word w = ordered(i);
            std::memcpy(digest.data() + at, &w, sizeof(Word));
        }
        if (at < digest.size()) {  // a digest that ends inside a word
            std::array<std::uint8_t, sizeof(Word)> out;
            const Word w = ordered(i);
            std::memcpy(out.data(), &w, sizeof(Word));
            std::copy_n(out.begin(), digest.size() - at, digest.begin() + static_cast<std::ptrdiff_t>(at));
            SecureFill(out, 0);
        }
    }

    StateWords ChainState;
    std::array<std::uint8_t, BlockBytes> BlockBuffer;
    std::size_t BufferFill;
    std::uint64_t BitCountLow;
    std::uint64_t BitCountHigh;

private:
    void ClearState() noexcept {
        SecureZero(ChainState);
        SecureZero(BlockBuffer);
        BufferFill = 0;
        BitCountLow = 0;
        BitCountHigh = 0;
    }
};

}  // namespace kestrune
