// The 64-bit block ciphers in CBC on 1 MiB, ours next to OpenSSL's where
// Debian's OpenSSL has the cipher (it has neither IDEA nor RC5; IDEA is
// measured next to libgcrypt's when that library is present).
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>
#include <openssl/cast.h>
#include <openssl/des.h>
#include <openssl/rc2.h>

#include <vector>

#include "ciphers/KCblowfish.h"
#include "ciphers/KCcast128.h"
#include "ciphers/KCdes.h"
#include "ciphers/KCidea.h"
#include "ciphers/KCrc2.h"
#include "ciphers/KCrc5.h"

#ifdef KESTRUNE_BENCH_GCRYPT
#include <gcrypt.h>
#endif

namespace {

constexpr std::size_t Size = 1 << 20;

// Key bytes as a password digest would give them (a 128-bit digest, or
// the cipher's largest key when that is smaller).
std::vector<std::uint8_t> Key(std::size_t bytes) {
    std::vector<std::uint8_t> key(bytes);
    for (std::size_t i = 0; i < bytes; ++i) key[i] = static_cast<std::uint8_t>(0x11 + 37 * i);
    return key;
}

template <typename Cipher>
void Ours(benchmark::State& state, std::uint32_t keyBits) {
    std::vector<std::uint8_t> data(Size, 0x5A);
    const auto key = Key(keyBits / 8);
    Cipher cipher;
    cipher.Init(key, keyBits);
    for (auto _ : state) {
        cipher.EncryptCBC(data, data);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}

// Runs a reference CBC encryption over 1 MiB in place with an 8-byte IV.
template <typename Encrypt>
void Reference(benchmark::State& state, Encrypt encrypt) {
    std::vector<std::uint8_t> data(Size, 0x5A);
    unsigned char iv[8] = {};
    for (auto _ : state) {
        encrypt(data.data(), Size, iv);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

void Blowfish_openssl(benchmark::State& state) {
    BF_KEY ks;
    BF_set_key(&ks, 16, Key(16).data());
    Reference(state, [&](unsigned char* d, std::size_t n, unsigned char* iv) {
        BF_cbc_encrypt(d, d, static_cast<long>(n), &ks, iv, BF_ENCRYPT);
    });
}

void Cast128_openssl(benchmark::State& state) {
    CAST_KEY ks;
    CAST_set_key(&ks, 16, Key(16).data());
    Reference(state, [&](unsigned char* d, std::size_t n, unsigned char* iv) {
        CAST_cbc_encrypt(d, d, static_cast<long>(n), &ks, iv, CAST_ENCRYPT);
    });
}

void Des_openssl(benchmark::State& state) {
    DES_cblock key;
    std::copy_n(Key(8).data(), 8, key);
    DES_key_schedule ks;
    DES_set_key_unchecked(&key, &ks);
    Reference(state, [&](unsigned char* d, std::size_t n, unsigned char* iv) {
        DES_ncbc_encrypt(d, d, static_cast<long>(n), &ks, reinterpret_cast<DES_cblock*>(iv), DES_ENCRYPT);
    });
}

void TripleDes_openssl(benchmark::State& state) {
    // A 128-bit key is two-key Triple DES: K3 = K1.
    const auto key = Key(16);
    DES_cblock k1, k2;
    std::copy_n(key.data(), 8, k1);
    std::copy_n(key.data() + 8, 8, k2);
    DES_key_schedule ks1, ks2;
    DES_set_key_unchecked(&k1, &ks1);
    DES_set_key_unchecked(&k2, &ks2);
    Reference(state, [&](unsigned char* d, std::size_t n, unsigned char* iv) {
        DES_ede3_cbc_encrypt(d, d, static_cast<long>(n), &ks1, &ks2, &ks1, reinterpret_cast<DES_cblock*>(iv),
                             DES_ENCRYPT);
    });
}

void Rc2_openssl(benchmark::State& state) {
    RC2_KEY ks;
    RC2_set_key(&ks, 16, Key(16).data(), 1024);
    Reference(state, [&](unsigned char* d, std::size_t n, unsigned char* iv) {
        RC2_cbc_encrypt(d, d, static_cast<long>(n), &ks, iv, RC2_ENCRYPT);
    });
}

// Key set-up as the crypto object pays it once per call: the schedule and
// the initial vector E(zero block) (for Blowfish, 521 block encryptions
// and one more). "Bytes" here are key bytes, so the ratio is of set-ups.
void BlowfishKeySetup_openssl(benchmark::State& state) {
    const auto key = Key(16);
    BF_KEY ks;
    for (auto _ : state) {
        BF_set_key(&ks, 16, key.data());
        unsigned char iv[8] = {};
        BF_ecb_encrypt(iv, iv, &ks, BF_ENCRYPT);
        benchmark::DoNotOptimize(&ks);
        benchmark::DoNotOptimize(iv);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 16));
}

void TripleDesKeySetup_openssl(benchmark::State& state) {
    const auto key = Key(24);
    DES_cblock k[3];
    for (int i = 0; i < 3; ++i) std::copy_n(key.data() + 8 * i, 8, k[i]);
    DES_key_schedule ks[3];
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) DES_set_key_unchecked(&k[i], &ks[i]);
        DES_cblock iv = {};
        DES_ecb3_encrypt(&iv, &iv, &ks[0], &ks[1], &ks[2], DES_ENCRYPT);
        benchmark::DoNotOptimize(&ks);
        benchmark::DoNotOptimize(&iv);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 24));
}

#pragma GCC diagnostic pop

void TripleDesKeySetup_kestrune(benchmark::State& state) {
    const auto key = Key(24);
    kestrune::TKC_3des cipher;
    for (auto _ : state) {
        cipher.Init(key, 192);
        benchmark::DoNotOptimize(&cipher);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 24));
}
BENCHMARK(TripleDesKeySetup_kestrune)->Name("3DES-KeySetup-192bit/kestrune");
BENCHMARK(TripleDesKeySetup_openssl)->Name("3DES-KeySetup-192bit/openssl");

void BlowfishKeySetup_kestrune(benchmark::State& state) {
    const auto key = Key(16);
    kestrune::TKC_blowfish cipher;
    for (auto _ : state) {
        cipher.Init(key, 128);
        benchmark::DoNotOptimize(&cipher);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 16));
}
BENCHMARK(BlowfishKeySetup_kestrune)->Name("Blowfish-KeySetup-128bit/kestrune");
BENCHMARK(BlowfishKeySetup_openssl)->Name("Blowfish-KeySetup-128bit/openssl");

#ifdef KESTRUNE_BENCH_GCRYPT
void Idea_libgcrypt(benchmark::State& state) {
    gcry_check_version(nullptr);
    gcry_cipher_hd_t handle;
    gcry_cipher_open(&handle, GCRY_CIPHER_IDEA, GCRY_CIPHER_MODE_CBC, 0);
    gcry_cipher_setkey(handle, Key(16).data(), 16);
    Reference(state,
              [&](unsigned char* d, std::size_t n, unsigned char*) { gcry_cipher_encrypt(handle, d, n, nullptr, 0); });
    gcry_cipher_close(handle);
}
BENCHMARK(Idea_libgcrypt)->Name("IDEA-CBC-1MiB/libgcrypt");
#endif

void Blowfish_kestrune(benchmark::State& state) { Ours<kestrune::TKC_blowfish>(state, 128); }
BENCHMARK(Blowfish_kestrune)->Name("Blowfish-CBC-1MiB/kestrune");
BENCHMARK(Blowfish_openssl)->Name("Blowfish-CBC-1MiB/openssl");
void Cast128_kestrune(benchmark::State& state) { Ours<kestrune::TKC_cast128>(state, 128); }
BENCHMARK(Cast128_kestrune)->Name("Cast128-CBC-1MiB/kestrune");
BENCHMARK(Cast128_openssl)->Name("Cast128-CBC-1MiB/openssl");
void DES_kestrune(benchmark::State& state) { Ours<kestrune::TKC_des>(state, 64); }
BENCHMARK(DES_kestrune)->Name("DES-CBC-1MiB/kestrune");
BENCHMARK(Des_openssl)->Name("DES-CBC-1MiB/openssl");
void TripleDes_kestrune(benchmark::State& state) { Ours<kestrune::TKC_3des>(state, 128); }
BENCHMARK(TripleDes_kestrune)->Name("3DES-CBC-1MiB/kestrune");
BENCHMARK(TripleDes_openssl)->Name("3DES-CBC-1MiB/openssl");
void RC2_kestrune(benchmark::State& state) { Ours<kestrune::TKC_rc2>(state, 128); }
BENCHMARK(RC2_kestrune)->Name("RC2-CBC-1MiB/kestrune");
BENCHMARK(Rc2_openssl)->Name("RC2-CBC-1MiB/openssl");
void IDEA_kestrune(benchmark::State& state) { Ours<kestrune::TKC_idea>(state, 128); }
BENCHMARK(IDEA_kestrune)->Name("IDEA-CBC-1MiB/kestrune");
void RC5_kestrune(benchmark::State& state) { Ours<kestrune::TKC_rc5>(state, 128); }
BENCHMARK(RC5_kestrune)->Name("RC5-CBC-1MiB/kestrune");

}  // namespace
