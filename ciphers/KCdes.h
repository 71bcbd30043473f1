// DES (FIPS 46-3) and Triple DES in the encrypt-decrypt-encrypt form with
// two or three keys. Parity bits of the key are ignored.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

// The DES primitives both ciphers share: a key schedule from 8 key bytes,
// and whole blocks through one schedule or through three (E-D-E).
class TKC_customdes : public TKC_blockcipher64 {
public:
    // The modes in which each block waits on the one before; Cfb8 takes
    // bytes, the others whole blocks.
    enum class Serial : std::uint8_t { Cbc, Cfb, Ofb, Cfb8 };
    // The sixteen 48-bit round keys, two words per round, each word holding
    // four 6-bit groups in the low bits of its bytes.
    using Schedule = std::array<std::uint32_t, 32>;
    // A schedule as the AVX-512 sets take it: per round, the bytes of the
    // odd word rotated by 4, then those of the even word, each byte repeated
    // through a word, for a plain broadcast load. Built when keyed, not per
    // call: the many-block modes call once per kilobyte.
    using SlicedSchedule = std::array<std::uint32_t, 16 * 8>;

    void Wipe() noexcept override {
        BmiLanes = SlicedPath = false;
        TKC_blockcipher64::Wipe();
    }

    // The path of the many-block modes and of Triple DES's serial ones,
    // chosen when keyed through CpuFeatures: "avx512" (with AVX512BW and
    // VBMI, for whole sets of the many-block modes; what is left of a call
    // and the serial modes take the next path), "bmi2" (x86-64 with BMI1
    // and BMI2) or "portable".
    std::string_view Provider() const noexcept override;

protected:
    static void BuildSchedule(ConstBytes key8, Schedule& schedule) noexcept;
    static void SliceSchedule(const Schedule& k, SlicedSchedule& out) noexcept;
    // sliced: the AVX-512 sets first (one sliced schedule per given one), or
    // null; bmi: the lanes with bextr (BmiLanes), else the portable ones.
    static void EncryptBlocksWith(const SlicedSchedule* sliced, bool bmi, const Schedule& k, ConstBytes source,
                                  Bytes dest) noexcept;
    static void DecryptBlocksWith(const SlicedSchedule* sliced, bool bmi, const Schedule& k, ConstBytes source,
                                  Bytes dest) noexcept;
    // E(k3, D(k2, E(k1, x))) and its inverse D(k1, E(k2, D(k3, x))).
    static void EncryptBlocksWith(const SlicedSchedule* sliced, bool bmi, const Schedule& k1, const Schedule& k2,
                                  const Schedule& k3, ConstBytes source, Bytes dest) noexcept;
    static void DecryptBlocksWith(const SlicedSchedule* sliced, bool bmi, const Schedule& k1, const Schedule& k2,
                                  const Schedule& k3, ConstBytes source, Bytes dest) noexcept;
    // Their encryption: the chaining value stays in registers, in the form
    // the rounds take; bmi: Triple DES's one-block rounds written for BMI2.
    static void EncryptSerialWith(Serial mode, const Schedule& k, Block& chain, ConstBytes source, Bytes dest) noexcept;
    static void EncryptSerialWith(bool bmi, Serial mode, const Schedule& k1, const Schedule& k2, const Schedule& k3,
                                  Block& chain, ConstBytes source, Bytes dest) noexcept;

    bool BmiLanes = false;  // set when keyed
    bool SlicedPath = false;
    static bool UsableBmiLanes() noexcept;
};

class TKC_des final : public TKC_customdes {
public:
    static constexpr std::int32_t ClassId = ids::DES;
    static constexpr std::string_view ClassAlgorithm = "DES";
    static constexpr std::int32_t ClassMaxKeySize = 64;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_des>; }

    void Wipe() noexcept override { WipeAll(KeySchedule, SlicedKeys); TKC_customdes::Wipe(); }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override {
        EncryptBlocksWith(SlicedPath ? &SlicedKeys : nullptr, BmiLanes, KeySchedule, source, dest);
    }
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override {
        DecryptBlocksWith(SlicedPath ? &SlicedKeys : nullptr, BmiLanes, KeySchedule, source, dest);
    }
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override {
        EncryptSerialWith(Serial::Cbc, KeySchedule, chain, source, dest);
    }
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override {
        EncryptSerialWith(Serial::Cfb, KeySchedule, chain, source, dest);
    }
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override {
        EncryptSerialWith(Serial::Ofb, KeySchedule, chain, source, dest);
    }
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override {
        EncryptSerialWith(Serial::Cfb8, KeySchedule, chain, source, dest);
    }

private:
    Wiped<Schedule, 0> KeySchedule;
    Wiped<SlicedSchedule, 0> SlicedKeys;  // when SlicedPath
};

class TKC_3des final : public TKC_customdes {
public:
    static constexpr std::int32_t ClassId = ids::TripleDES;
    static constexpr std::string_view ClassAlgorithm = "3DES";
    static constexpr std::int32_t ClassMaxKeySize = 192;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_3des>; }

    void Wipe() noexcept override { WipeAll(Schedules, SlicedKeys); TKC_customdes::Wipe(); }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override {
        EncryptBlocksWith(Sliced(), BmiLanes, Schedules[0], Schedules[1], Schedules[2], source, dest);
    }
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override {
        DecryptBlocksWith(Sliced(), BmiLanes, Schedules[0], Schedules[1], Schedules[2], source, dest);
    }
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override {
        EncryptSerialWith(BmiLanes, Serial::Cbc, Schedules[0], Schedules[1], Schedules[2], chain, source, dest);
    }
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override {
        EncryptSerialWith(BmiLanes, Serial::Cfb, Schedules[0], Schedules[1], Schedules[2], chain, source, dest);
    }
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override {
        EncryptSerialWith(BmiLanes, Serial::Ofb, Schedules[0], Schedules[1], Schedules[2], chain, source, dest);
    }
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override {
        EncryptSerialWith(BmiLanes, Serial::Cfb8, Schedules[0], Schedules[1], Schedules[2], chain, source, dest);
    }

private:
    Wiped<std::array<Schedule, 3>, 0> Schedules;  // K1, K2, K3
    Wiped<std::array<SlicedSchedule, 3>, 0> SlicedKeys;  // when SlicedPath
    const SlicedSchedule* Sliced() const noexcept { return SlicedPath ? SlicedKeys.data() : nullptr; }
};

}  // namespace kestrune
