// Blowfish in CBC on 1 MiB, ours next to OpenSSL's.
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>

#include <vector>

#include "ciphers/KCblowfish.h"

namespace {

constexpr std::size_t Size = 1 << 20;

void BlowfishCBC_kestrune(benchmark::State& state) {
    std::vector<std::uint8_t> data(Size, 0x5A), key(16, 0x11);
    kestrune::TKC_blowfish cipher;
    cipher.Init(key, 128);
    for (auto _ : state) {
        cipher.EncryptCBC(data, data);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}
BENCHMARK(BlowfishCBC_kestrune)->Name("Blowfish-CBC-1MiB/kestrune");

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void BlowfishCBC_openssl(benchmark::State& state) {
    std::vector<std::uint8_t> data(Size, 0x5A), key(16, 0x11);
    BF_KEY bf;
    BF_set_key(&bf, 16, key.data());
    unsigned char iv[8] = {};
    for (auto _ : state) {
        BF_cbc_encrypt(data.data(), data.data(), static_cast<long>(Size), &bf, iv, BF_ENCRYPT);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}
#pragma GCC diagnostic pop
BENCHMARK(BlowfishCBC_openssl)->Name("Blowfish-CBC-1MiB/openssl");

}  // namespace
