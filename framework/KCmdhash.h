// Buffering, bit counting and padding shared by the digests that compress
// fixed-size blocks (Merkle-Damgard construction). A digest supplies its
// initial state, its compression function and its final trailer.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "KCcrypt.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrune {
namespace mdhash_detail {

// Sixteen bytes of a block in two words (byte i in bits 8i to 8i+7), put
// together in registers. The last block of a message is written a whole
// chunk a store and loaded by the compression at once: a load that spans
// several narrower stores still in flight waits until they have left,
// which put every short digest behind the one before it.
struct Chunk {
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;

    Chunk& operator|=(const Chunk& other) noexcept {
        lo |= other.lo;
        hi |= other.hi;
        return *this;
    }
};

// The bytes of src (at most 16), zero-extended; reads nothing beyond src.
inline Chunk LoadChunk(ConstBytes src) noexcept {
    const std::size_t n = src.size();
    if (n >= 8) return {LoadLE64(src.first(8)), n == 8 ? 0 : LoadLE64(src.last(8)) >> (8 * (16 - n))};
    if (n >= 4) return {LoadLE32(src.first(4)) | std::uint64_t{LoadLE32(src.last(4))} << (8 * (n - 4))};
    if (n == 0) return {};
    return {src[0] | std::uint64_t{src[n / 2]} << (8 * (n / 2)) | std::uint64_t{src[n - 1]} << (8 * (n - 1))};
}

inline void StoreChunk(Bytes dst, const Chunk& c) noexcept {
#if defined(__SSE2__)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst.data()),
                     _mm_set_epi64x(static_cast<long long>(c.hi), static_cast<long long>(c.lo)));
#else
    StoreLE64(dst.first(8), c.lo);
    StoreLE64(dst.subspan(8, 8), c.hi);
#endif
}

// The first n bytes of c (n < 16), the rest zero.
inline Chunk KeepFirst(const Chunk& c, std::size_t n) noexcept {
    const auto mask = [](std::size_t bytes) { return bytes == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * bytes); };
    return n >= 8 ? Chunk{c.lo, c.hi & mask(n - 8)} : Chunk{c.lo & mask(n), 0};
}

// One byte at position at (< 16), the rest zero.
inline Chunk ByteAt(std::size_t at, std::uint8_t value) noexcept {
    return at < 8 ? Chunk{std::uint64_t{value} << (8 * at), 0} : Chunk{0, std::uint64_t{value} << (8 * (at - 8))};
}

// c's bytes moved up by k positions (k < 16); the top k bytes drop out.
inline Chunk ShiftUp(const Chunk& c, std::size_t k) noexcept {
    if (k == 0) return c;
    if (k >= 8) return {0, c.lo << (8 * (k - 8))};
    return {c.lo << (8 * k), c.hi << (8 * k) | c.lo >> (64 - 8 * k)};
}

}  // namespace mdhash_detail

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
        // Whole chunks, which Pad reads back as they were stored.
        const ConstBytes rest = data.subspan(whole);
        for (std::size_t at = 0; at < rest.size(); at += 16) {
            const auto piece = rest.subspan(at, std::min<std::size_t>(16, rest.size() - at));
            mdhash_detail::StoreChunk(ChunkAt(at), mdhash_detail::LoadChunk(piece));
        }
        BufferFill = rest.size();
    }

    // Appends padByte and zeros and ends the last block with trailer
    // (usually the bit count; 1 to 16 bytes), compressing one or two
    // blocks. Written a whole chunk a store (see Chunk).
    void Pad(std::uint8_t padByte, ConstBytes trailer) noexcept {
        using namespace mdhash_detail;
        const std::size_t first = BufferFill / 16 * 16;
        const bool twoBlocks = BufferFill + 1 + trailer.size() > BlockBytes;
        const Chunk last = ShiftUp(LoadChunk(trailer), 16 - trailer.size());
        for (std::size_t at = first; at < BlockBytes; at += 16) {
            Chunk c;
            if (at == first) {
                c = KeepFirst(LoadChunk(ChunkAt(at)), BufferFill - at);
                c |= ByteAt(BufferFill - at, padByte);
            }
            if (!twoBlocks && at + 16 == BlockBytes) c |= last;
            StoreChunk(ChunkAt(at), c);
        }
        if (twoBlocks) {
            Compress(BlockBuffer);
            for (std::size_t at = 0; at < BlockBytes; at += 16)
                StoreChunk(ChunkAt(at), at + 16 == BlockBytes ? last : Chunk{});
        }
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
    static_assert(BlockBytes % 16 == 0);

    Bytes ChunkAt(std::size_t at) noexcept { return Bytes(BlockBuffer).subspan(at, 16); }

    void ClearState() noexcept {
        SecureZero(ChainState);
        SecureZero(BlockBuffer);
        BufferFill = 0;
        BitCountLow = 0;
        BitCountHigh = 0;
    }
};

}  // namespace kestrune
