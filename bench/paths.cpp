// Our throughput alone, with no reference library, so that the same
// program builds for Linux and for both Windows bitnesses and runs under
// Wine: one line per digest and per cipher and mode, in MiB per second of
// wall time (the best of three runs of at least 50 ms each),
// with the path the algorithm took. scripts/bench-windows puts the three
// side by side.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/KCblockciphers.h"
#include "object/KCcatalogue.h"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;

template <typename Run>
double MiBPerSecond(std::size_t bytes, Run run) {
    double best = 0;
    for (int repetition = 0; repetition < 3; ++repetition) {
        std::size_t rounds = 0;
        const auto start = Clock::now();
        double seconds = 0;
        do {
            run();
            ++rounds;
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
        } while (seconds < 0.05);
        best = std::max(best, static_cast<double>(rounds * bytes) / seconds / (1 << 20));
    }
    return best;
}

// Names as one word, for the script that joins the columns.
std::string Word(std::string_view name) {
    std::string word(name);
    std::replace(word.begin(), word.end(), ' ', '-');
    return word;
}

}  // namespace

int main() {
    std::vector<std::uint8_t> data(1 << 20);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + 7);
    const ConstBytes key = ConstBytes(data).first(32);
    for (const auto& row : DigestCatalogue()) {
        auto hash = row.algorithmClass.Create();
        std::array<std::uint8_t, 64> digest{};
        const double rate = MiBPerSecond(data.size(), [&] {
            hash->Init();
            hash->Update(data);
            hash->Final(digest);
        });
        std::printf("%-12s %-9s %-9s %10.1f\n", Word(row.name).c_str(), "digest",
                    std::string(hash->Provider()).c_str(), rate);
    }
    struct Way {
        const char* label;
        TKC_ciphermode mode;
        bool decrypting;
    };
    static constexpr Way Ways[] = {{"CBC-enc", TKC_ciphermode::cmCBC, false},
                                   {"CBC-dec", TKC_ciphermode::cmCBC, true},
                                   {"CFB8-dec", TKC_ciphermode::cmCFB8bit, true},
                                   {"CTR", TKC_ciphermode::cmCTR, false}};
    for (const auto& row : CipherCatalogue()) {
        for (const Way& way : Ways) {
            auto cipher = row.algorithmClass.Create();
            auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get());
            if (block == nullptr && way.mode != TKC_ciphermode::cmCBC) continue;  // a stream cipher: one line
            if (block != nullptr) block->CipherMode = way.mode;
            const auto bits = static_cast<std::uint32_t>(std::min(128, row.algorithmClass.GetMaxKeySize()));
            cipher->Init(key, bits);
            const double rate = MiBPerSecond(data.size(), [&] {
                way.decrypting ? cipher->Decrypt(data, data) : cipher->Encrypt(data, data);
            });
            std::printf("%-12s %-9s %-9s %10.1f\n", Word(row.name).c_str(), block ? way.label : "stream",
                        std::string(cipher->Provider()).c_str(), rate);
        }
    }
    return 0;
}
