// Digest throughput on 8 KiB and 1 MiB messages, ours next to OpenSSL's
// where OpenSSL has the digest. OpenSSL's one-shot functions are the
// lightest way into its fastest code for each digest.
#include <benchmark/benchmark.h>
#include <openssl/md4.h>
#include <openssl/md5.h>
#include <openssl/ripemd.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

#include "hashes/KChaval.h"
#include "hashes/KCmd4.h"
#include "hashes/KCmd5.h"
#include "hashes/KCripemd128.h"
#include "hashes/KCripemd160.h"
#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "hashes/KCtiger.h"

namespace {

using Reference = unsigned char* (*)(const unsigned char*, std::size_t, unsigned char*);

void Ours(benchmark::State& state, const kestrune::TKC_hashclass* digestClass, std::size_t size) {
    const std::vector<std::uint8_t> data(size, 0x5A);
    std::vector<std::uint8_t> digest(64);
    auto hash = digestClass->Create();
    for (auto _ : state) {
        hash->Init();
        hash->Update(data);
        hash->Final(digest);
        benchmark::DoNotOptimize(digest.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void Theirs(benchmark::State& state, Reference reference, std::size_t size) {
    const std::vector<std::uint8_t> data(size, 0x5A);
    std::vector<std::uint8_t> digest(64);
    for (auto _ : state) {
        reference(data.data(), data.size(), digest.data());
        benchmark::DoNotOptimize(digest.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct Row {
    const char* label;
    const kestrune::TKC_hashclass* digestClass;
    Reference reference;  // null where OpenSSL lacks the digest
};
const Row Rows[] = {
    {"MD4", &kestrune::HashClassOf<kestrune::TKC_md4>, &MD4},
    {"MD5", &kestrune::HashClassOf<kestrune::TKC_md5>, &MD5},
    {"RIPEMD-128", &kestrune::HashClassOf<kestrune::TKC_ripemd128>, nullptr},
    {"RIPEMD-160", &kestrune::HashClassOf<kestrune::TKC_ripemd160>, &RIPEMD160},
    {"SHA-1", &kestrune::HashClassOf<kestrune::TKC_sha1>, &SHA1},
    {"SHA-256", &kestrune::HashClassOf<kestrune::TKC_sha256>, &SHA256},
    {"SHA-384", &kestrune::HashClassOf<kestrune::TKC_sha384>, &SHA384},
    {"SHA-512", &kestrune::HashClassOf<kestrune::TKC_sha512>, &SHA512},
    {"HAVAL", &kestrune::HashClassOf<kestrune::TKC_haval>, nullptr},
    {"Tiger", &kestrune::HashClassOf<kestrune::TKC_tiger>, nullptr},
};
#pragma GCC diagnostic pop

const bool Registered = [] {
    for (const auto& row : Rows) {
        for (const auto& [suffix, size] : {std::pair{"-8KiB", std::size_t{8192}}, std::pair{"-1MiB", std::size_t{1} << 20}}) {
            const std::string label = std::string(row.label) + suffix;
            benchmark::RegisterBenchmark((label + "/kestrune").c_str(), Ours, row.digestClass, size);
            if (row.reference) benchmark::RegisterBenchmark((label + "/openssl").c_str(), Theirs, row.reference, size);
        }
    }
    return true;
}();

}  // namespace
