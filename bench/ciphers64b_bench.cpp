// RC4 on 1 MiB next to OpenSSL's; MISTY1, the ICE family, TEA and XTEA in
// CBC on 1 MiB (OpenSSL has none of them, so they are reported alone).
#include <benchmark/benchmark.h>
#include <openssl/rc4.h>

#include <vector>

#include "ciphers/KCice.h"
#include "ciphers/KCmisty1.h"
#include "ciphers/KCrc4.h"
#include "ciphers/KCtea.h"
#include "ciphers/KCxtea.h"

namespace {

constexpr std::size_t Size = 1 << 20;

void RC4_kestrune(benchmark::State& state) {
    std::vector<std::uint8_t> data(Size, 0x5A), key(16, 0x11);
    kestrune::TKC_rc4 cipher;
    cipher.Init(key, 128);
    for (auto _ : state) {
        cipher.Encrypt(data, data);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}
BENCHMARK(RC4_kestrune)->Name("RC4-1MiB/kestrune");

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void RC4_openssl(benchmark::State& state) {
    std::vector<std::uint8_t> data(Size, 0x5A), key(16, 0x11);
    RC4_KEY rc4;
    RC4_set_key(&rc4, 16, key.data());
    for (auto _ : state) {
        RC4(&rc4, Size, data.data(), data.data());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}
#pragma GCC diagnostic pop
BENCHMARK(RC4_openssl)->Name("RC4-1MiB/openssl");

template <typename Cipher>
void CBC_kestrune(benchmark::State& state) {
    std::vector<std::uint8_t> data(Size, 0x5A), key(16, 0x11);
    Cipher cipher;
    cipher.Init(key, static_cast<std::uint32_t>(Cipher::ClassMaxKeySize));
    for (auto _ : state) {
        cipher.EncryptCBC(data, data);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}
BENCHMARK(CBC_kestrune<kestrune::TKC_misty1>)->Name("Misty1-CBC-1MiB/kestrune");
BENCHMARK(CBC_kestrune<kestrune::TKC_thinice>)->Name("ThinIce-CBC-1MiB/kestrune");
BENCHMARK(CBC_kestrune<kestrune::TKC_ice>)->Name("Ice-CBC-1MiB/kestrune");
BENCHMARK(CBC_kestrune<kestrune::TKC_ice2>)->Name("Ice2-CBC-1MiB/kestrune");
BENCHMARK(CBC_kestrune<kestrune::TKC_tea>)->Name("Tea-CBC-1MiB/kestrune");
BENCHMARK(CBC_kestrune<kestrune::TKC_xtea>)->Name("XTea-CBC-1MiB/kestrune");

}  // namespace
