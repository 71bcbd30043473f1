// Byte-order loads and stores, rotations and a wipe the optimiser cannot drop.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace kestrune {

using Bytes = std::span<std::uint8_t>;
using ConstBytes = std::span<const std::uint8_t>;

inline std::uint32_t LoadLE32(ConstBytes b) noexcept {
    std::uint32_t v;
    std::memcpy(&v, b.data(), 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}
inline std::uint32_t LoadBE32(ConstBytes b) noexcept {
    std::uint32_t v;
    std::memcpy(&v, b.data(), 4);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}
inline std::uint64_t LoadLE64(ConstBytes b) noexcept {
    std::uint64_t v;
    std::memcpy(&v, b.data(), 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}
inline std::uint64_t LoadBE64(ConstBytes b) noexcept {
    std::uint64_t v;
    std::memcpy(&v, b.data(), 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}
inline void StoreLE32(Bytes b, std::uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(b.data(), &v, 4);
}
inline void StoreBE32(Bytes b, std::uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    std::memcpy(b.data(), &v, 4);
}
// Big-endian store of a block cipher's output word. The chaining modes load
// these words straight back; on some processors (AMD Zen 3 here) a value
// made by the BSWAP instruction forwards slowly from a store to the next
// load, which cost Blowfish in CBC a tenth of its speed, so the bytes are
// swapped with masks and rotations instead.
inline void StoreBE32Block(Bytes b, std::uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t even = v & 0x00FF00FFU, odd = v & 0xFF00FF00U;
        __asm__("" : "+r"(even), "+r"(odd));  // or the compiler makes it a BSWAP again
        v = std::rotr(even, 8) | std::rotl(odd, 8);
    }
    std::memcpy(b.data(), &v, 4);
}
inline void StoreLE64(Bytes b, std::uint64_t v) noexcept {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(b.data(), &v, 8);
}
inline void StoreBE64(Bytes b, std::uint64_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(b.data(), &v, 8);
}

inline constexpr std::uint32_t ByteSwap(std::uint32_t v) noexcept { return __builtin_bswap32(v); }
inline constexpr std::uint64_t ByteSwap(std::uint64_t v) noexcept { return __builtin_bswap64(v); }

inline constexpr std::uint32_t Rol32(std::uint32_t x, unsigned n) noexcept { return std::rotl(x, static_cast<int>(n & 31)); }
inline constexpr std::uint32_t Ror32(std::uint32_t x, unsigned n) noexcept { return std::rotr(x, static_cast<int>(n & 31)); }
inline constexpr std::uint64_t Rol64(std::uint64_t x, unsigned n) noexcept { return std::rotl(x, static_cast<int>(n & 63)); }
inline constexpr std::uint64_t Ror64(std::uint64_t x, unsigned n) noexcept { return std::rotr(x, static_cast<int>(n & 63)); }

// Holds a partial sum (or any value) as computed: an empty assembler
// statement the optimizer cannot look through, so it does not reassociate
// the sum or regroup a tree of operations into a chain.
template <typename Word>
[[gnu::always_inline]] inline void KeepSum([[maybe_unused]] Word& x) noexcept {
#if defined(__GNUC__)
    asm("" : "+r"(x));
#endif
}

// Fills memory with a byte value in a way the compiler may not elide, even
// when the memory is about to be freed: key material must not outlive its use.
inline void SecureFill(void* data, std::size_t size, std::uint8_t fill) noexcept {
    if (size == 0) return;
    if (size <= 512) {
        // Key schedules and blocks: plain 16-byte stores. As a memset the
        // compiler emits a string instruction whose start-up costs more
        // than the stores (the barrier in the loop keeps it from doing so).
        auto* bytes = static_cast<unsigned char*>(data);
        const std::uint64_t word = 0x0101010101010101u * fill;
        const std::uint64_t pair[2] = {word, word};
        std::size_t i = 0;
        for (; i + 16 <= size; i += 16) {
            std::memcpy(bytes + i, pair, 16);
            __asm__ __volatile__("" : : "r"(bytes) : "memory");
        }
        for (; i < size; ++i) bytes[i] = fill;
    } else {
        std::memset(data, fill, size);
    }
    __asm__ __volatile__("" : : "r"(data) : "memory");
}

template <typename T>
inline void SecureFill(T& object, std::uint8_t fill) noexcept {
    static_assert(std::is_trivially_copyable_v<T>);
    SecureFill(&object, sizeof object, fill);
}

template <typename T>
inline void SecureZero(T& object) noexcept { SecureFill(object, 0); }

// Key material that wipes itself: an array (of any nesting) filled with its
// fill byte when made, on Wipe and when destroyed, so that a cipher only
// names its fill byte once. It reads and writes as the array it extends.
template <typename Array, std::uint8_t Fill>
class Wiped : public Array {
public:
    static constexpr std::uint8_t FillByte = Fill;

    Wiped() noexcept { Wipe(); }
    Wiped(const Wiped&) = delete;
    Wiped& operator=(const Wiped&) noexcept = default;
    Wiped& operator=(const Array& value) noexcept {
        Array::operator=(value);
        return *this;
    }
    ~Wiped() { Wipe(); }

    void Wipe() noexcept { SecureFill(static_cast<Array&>(*this), Fill); }
    // The plain array, for copies into locals that the optimiser may keep in registers.
    const Array& Plain() const noexcept { return *this; }
};

template <typename... Parts>
inline void WipeAll(Parts&... parts) noexcept {
    (parts.Wipe(), ...);
}

// dest = a xor b over dest.size() bytes, in words rather than bytes: the chaining
// modes run this over every byte they encrypt. dest may be the same memory as
// a or b, but must not overlap them otherwise.
inline void XorTo(Bytes dest, ConstBytes a, ConstBytes b) noexcept {
    std::size_t i = 0;
    for (; i + 16 <= dest.size(); i += 16) {
        std::uint64_t x[2], y[2];
        std::memcpy(x, a.data() + i, 16);
        std::memcpy(y, b.data() + i, 16);
        x[0] ^= y[0], x[1] ^= y[1];
        std::memcpy(dest.data() + i, x, 16);
    }
    for (; i + 8 <= dest.size(); i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        x ^= y;
        std::memcpy(dest.data() + i, &x, 8);
    }
    for (; i < dest.size(); ++i) dest[i] = a[i] ^ b[i];
}

// XORs b into a; a and b have the same size.
inline void XorInto(Bytes a, ConstBytes b) noexcept { XorTo(a, a, b); }

}  // namespace kestrune
