// The serial modes' loops (CBC, CFB-block, OFB and CFB-8 encryption) over
// one block kept in registers from block to block, with no call, load or
// store on the chain, for ciphers whose one-block rounds inline well. The
// block type gives Load, Store, ^, Encrypt(schedule), Wipe, and for CFB-8
// FirstByte() and ShiftIn(byte): the register moves on by a byte, the
// first falls out and the new one comes in last.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../framework/KCbytes.h"

namespace kestrune::serial {

template <typename One, typename Schedule>
[[gnu::always_inline]] inline void EncryptCbc(const Schedule& s, Bytes chain, ConstBytes source, Bytes dest) noexcept {
    One x = One::Load(chain);
    for (std::size_t off = 0; off < source.size(); off += One::Size) {
        x = x ^ One::Load(source.subspan(off, One::Size));
        x.Encrypt(s);
        x.Store(dest.subspan(off, One::Size));
    }
    x.Store(chain);
    x.Wipe();
}

template <typename One, typename Schedule>
[[gnu::always_inline]] inline void EncryptCfb(const Schedule& s, Bytes chain, ConstBytes source, Bytes dest) noexcept {
    One x = One::Load(chain);
    for (std::size_t off = 0; off < source.size(); off += One::Size) {
        x.Encrypt(s);
        x = x ^ One::Load(source.subspan(off, One::Size));
        x.Store(dest.subspan(off, One::Size));
    }
    x.Store(chain);
    x.Wipe();
}

template <typename One, typename Schedule>
[[gnu::always_inline]] inline void EncryptOfb(const Schedule& s, Bytes chain, ConstBytes source, Bytes dest) noexcept {
    One x = One::Load(chain);
    for (std::size_t off = 0; off < source.size(); off += One::Size) {
        x.Encrypt(s);
        (x ^ One::Load(source.subspan(off, One::Size))).Store(dest.subspan(off, One::Size));
    }
    x.Store(chain);
    x.Wipe();
}

template <typename One, typename Schedule>
[[gnu::always_inline]] inline void EncryptCfb8(const Schedule& s, Bytes chain, ConstBytes source, Bytes dest) noexcept {
    One x = One::Load(chain);
    for (std::size_t i = 0; i < source.size(); ++i) {
        One y = x;
        y.Encrypt(s);
        const std::uint32_t c = source[i] ^ y.FirstByte();
        dest[i] = static_cast<std::uint8_t>(c);
        x.ShiftIn(c);
        y.Wipe();
    }
    x.Store(chain);
    x.Wipe();
}

// A 64-bit block as two big-endian words, for the loops above; the
// schedule type's Encrypt(l, r) runs the rounds on them.
template <typename Keyed>
struct Halves {
    static constexpr std::size_t Size = 8;
    std::uint32_t l, r;

    static Halves Load(ConstBytes in) noexcept { return {LoadBE32(in.first(4)), LoadBE32(in.subspan(4, 4))}; }
    void Store(Bytes out) const noexcept {
        StoreBE32Block(out.first(4), l);
        StoreBE32Block(out.subspan(4, 4), r);
    }
    Halves operator^(const Halves& y) const noexcept { return {l ^ y.l, r ^ y.r}; }
    [[gnu::always_inline]] void Encrypt(const Keyed& k) noexcept { k.Encrypt(l, r); }
    std::uint32_t FirstByte() const noexcept { return l >> 24; }
    void ShiftIn(std::uint32_t byte) noexcept {
        l = (l << 8) | (r >> 24);
        r = (r << 8) | byte;
    }
    void Wipe() noexcept {
        l = r = 0;
        KeepSum(l), KeepSum(r);
    }
};

}  // namespace kestrune::serial
