// The 128-bit block ciphers in CBC (both ways) and CTR on 1 MiB, next to
// OpenSSL's AES.
// Rijndael-128 and Rijndael-256 pair with AES-128 and AES-256. OpenSSL has
// none of the other five, so each of them (and the portable Rijndael
// tables) pairs with AES-128 in the same mode under its own label: the ratio
// then says how far each is from the fastest cipher of the library.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "ciphers/KCcast256.h"
#include "ciphers/KCmars.h"
#include "ciphers/KCrc6.h"
#include "ciphers/KCrijndael.h"
#include "ciphers/KCserpent.h"
#include "ciphers/KCtwofish.h"
#include "framework/KCcpufeatures.h"

namespace {

using kestrune::TKC_ciphermode;

constexpr std::size_t Size = 1 << 20;

template <typename Cipher>
void Ours(benchmark::State& state, std::uint32_t keyBits, TKC_ciphermode mode, bool decrypting, bool hardware) {
    std::vector<std::uint8_t> data(Size, 0x5A), key(keyBits / 8, 0x11);
    Cipher cipher;
    cipher.CipherMode = mode;
    {
        const kestrune::CpuFeatures::Restriction only(hardware ? ~kestrune::CpuFeatures::None : kestrune::CpuFeatures::None);
        cipher.Init(key, keyBits);
    }
    for (auto _ : state) {
        decrypting ? cipher.Decrypt(data, data) : cipher.Encrypt(data, data);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}

void OpenSsl(benchmark::State& state, const EVP_CIPHER* type, bool decrypting) {
    std::vector<std::uint8_t> data(Size, 0x5A), key(32, 0x11), iv(16, 0);
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                                &EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), type, nullptr, key.data(), iv.data(), decrypting ? 0 : 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int len = 0;
    for (auto _ : state) {
        EVP_CipherUpdate(ctx.get(), data.data(), &len, data.data(), static_cast<int>(Size));
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Size));
}

template <typename Cipher>
void Pair(const std::string& name, std::uint32_t keyBits, bool hardware = true) {
    struct Way {
        TKC_ciphermode mode;
        const char* name;
        bool decrypting;
    };
    for (const auto& [mode, modeName, decrypting] : {Way{TKC_ciphermode::cmCBC, "CBC", false},
                                                     Way{TKC_ciphermode::cmCBC, "CBCdec", true},
                                                     Way{TKC_ciphermode::cmCTR, "CTR", false}}) {
        const std::string label = name + "-" + modeName + "-1MiB";
        benchmark::RegisterBenchmark((label + "/kestrune").c_str(), [=](benchmark::State& s) {
            Ours<Cipher>(s, keyBits, mode, decrypting, hardware);
        });
        const bool cbc = mode == TKC_ciphermode::cmCBC;
        const EVP_CIPHER* type = keyBits == 256 && name.rfind("Rijndael-256", 0) == 0
                                     ? (cbc ? EVP_aes_256_cbc() : EVP_aes_256_ctr())
                                     : (cbc ? EVP_aes_128_cbc() : EVP_aes_128_ctr());
        benchmark::RegisterBenchmark((label + "/openssl").c_str(), [=](benchmark::State& s) { OpenSsl(s, type, decrypting); });
    }
}

const bool registered = [] {
    Pair<kestrune::TKC_rijndael>("Rijndael-128", 128);
    Pair<kestrune::TKC_rijndael>("Rijndael-256", 256);
    Pair<kestrune::TKC_rijndael>("Rijndael-128-portable", 128, false);
    Pair<kestrune::TKC_rijndael>("Rijndael-256-portable", 256, false);
    Pair<kestrune::TKC_twofish>("Twofish", 128);
    Pair<kestrune::TKC_serpent>("Serpent", 128);
    Pair<kestrune::TKC_mars>("Mars", 128);
    Pair<kestrune::TKC_rc6>("RC6", 128);
    Pair<kestrune::TKC_cast256>("Cast256", 128);
    return true;
}();

}  // namespace
