// Reading an age file, whose header and armor come from anyone: never out
// of bounds, and a file that is accepted hands out exactly the plaintext
// bytes it reports, in chunks of at most 64 KiB.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cli/age.h"
#include "fuzz/fuzz_check.h"

using kestrune::fuzz::Check;
namespace age = kestrune::cli::age;

namespace {

class TInput final : public kestrune::TKC_stream {
public:
    TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t Read(kestrune::Bytes out) override {
        const std::size_t take = std::min(out.size(), size_ - pos_);
        if (take > 0) std::memcpy(out.data(), data_ + pos_, take);
        pos_ += take;
        return take;
    }
    std::size_t Write(kestrune::ConstBytes) override { return 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_, pos_ = 0;
};

// The seeds' key; a passphrase with a work factor cheap enough for fuzzing.
const age::TIdentities& Identities() {
    static const age::TIdentities identities = [] {
        age::TIdentities ids;
        ids.keys.push_back(age::ParseIdentity("AGE-SECRET-KEY-1N78GWRL9384TNFU4VWYEC05SV906VJRMRAN727QLXPWMSEG8UPQSAFCFAG"));
        ids.passphrase = kestrune::cli::TSecretString("fuzz");
        ids.maxWorkFactor = 4;
        return ids;
    }();
    return identities;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TInput input(data, size);
    std::uint64_t handedOut = 0;
    try {
        const std::uint64_t total = age::Decrypt(input, Identities(), [&](kestrune::ConstBytes chunk) {
            Check(chunk.size() <= age::ChunkSize, "a chunk holds at most 64 KiB");
            handedOut += chunk.size();
        });
        Check(total == handedOut, "the reported size is what was handed out");
        Check(total < size, "the plaintext is shorter than the file");
    } catch (const age::EAge&) {
    }
    return 0;
}
