#include "KCcpufeatures.h"

#include <atomic>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace kestrune {
namespace {

struct Named {
    CpuFeature feature;
    std::string_view name;
};

constexpr Named Names[] = {
    {CpuFeature::AesNi, "aes"},         {CpuFeature::Pclmul, "pclmul"},     {CpuFeature::Ssse3, "ssse3"},
    {CpuFeature::Sse41, "sse4.1"},      {CpuFeature::Avx2, "avx2"},         {CpuFeature::Bmi2, "bmi2"},
    {CpuFeature::Sha, "sha"},           {CpuFeature::Vaes, "vaes"},         {CpuFeature::Avx512F, "avx512f"},
    {CpuFeature::Avx512BW, "avx512bw"}, {CpuFeature::Avx512VL, "avx512vl"}, {CpuFeature::Sse2, "sse2"},
    {CpuFeature::Gfni, "gfni"},         {CpuFeature::Avx512Vbmi, "avx512vbmi"},
    // The names under which the paths report themselves, as aliases.
    {CpuFeature::AesNi, "aesni"},       {CpuFeature::Sha, "sha-ni"},
};

bool SameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

#if defined(__x86_64__) || defined(__i386__)
CpuFeatures::Mask Probe() noexcept {
    using F = CpuFeature;
    CpuFeatures::Mask found = 0;
    const auto set = [&](bool present, F f) {
        if (present) found |= CpuFeatures::Bit(f);
    };
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
    set(c & (1u << 25), F::AesNi);
    set(c & (1u << 1), F::Pclmul);
    set(c & (1u << 9), F::Ssse3);
    set(c & (1u << 19), F::Sse41);
    set(d & (1u << 26), F::Sse2);
    // The wide registers are usable only when the operating system saves
    // them on a task switch: XCR0 says which it saves.
    std::uint64_t xcr0 = 0;
    if (c & (1u << 27)) {
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        xcr0 = (std::uint64_t{hi} << 32) | lo;
    }
    const bool ymm = (c & (1u << 28)) && (xcr0 & 0x6) == 0x6;
    const bool zmm = ymm && (xcr0 & 0xE0) == 0xE0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        set(ymm && (b & (1u << 5)), F::Avx2);
        set(b & (1u << 8), F::Bmi2);
        set(b & (1u << 29), F::Sha);
        set(ymm && (c & (1u << 9)), F::Vaes);
        set(zmm && (b & (1u << 16)), F::Avx512F);
        set(zmm && (b & (1u << 30)), F::Avx512BW);
        set(zmm && (b & (1u << 31)), F::Avx512VL);
        set(zmm && (c & (1u << 1)), F::Avx512Vbmi);
        set(c & (1u << 8), F::Gfni);
    }
    return found;
}
#else
CpuFeatures::Mask Probe() noexcept { return 0; }
#endif

CpuFeatures::Mask FromEnvironment() noexcept {
    const char* setting = std::getenv("KESTRUNE_CPU");
    return CpuFeatures::Detected() & ~(setting ? CpuFeatures::DisabledBy(setting) : 0);
}

std::atomic<CpuFeatures::Mask> Allowed{~CpuFeatures::Mask{0}};

}  // namespace

CpuFeatures::Mask CpuFeatures::Detected() noexcept {
    static const Mask detected = Probe();
    return detected;
}

CpuFeatures::Mask CpuFeatures::Enabled() noexcept {
    static const Mask usable = FromEnvironment();
    return usable & Allowed.load(std::memory_order_relaxed);
}

std::string_view CpuFeatures::Name(CpuFeature f) noexcept {
    for (const auto& n : Names)
        if (n.feature == f) return n.name;
    return {};
}

CpuFeatures::Mask CpuFeatures::DisabledBy(std::string_view setting) noexcept {
    Mask off = 0;
    while (!setting.empty()) {
        const auto comma = setting.find(',');
        std::string_view item = setting.substr(0, comma);
        setting = comma == std::string_view::npos ? std::string_view{} : setting.substr(comma + 1);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (SameName(item, "portable")) {
            off = ~Mask{0};
            continue;
        }
        // "-avx2" and "avx2" both turn AVX2 off: the list names what to drop.
        if (!item.empty() && item.front() == '-') item.remove_prefix(1);
        for (const auto& n : Names)
            if (SameName(item, n.name)) off |= Bit(n.feature);
    }
    return off;
}

CpuFeatures::Restriction::Restriction(Mask allowed) noexcept : Previous(Allowed.exchange(allowed)) {}

CpuFeatures::Restriction::~Restriction() { Allowed.store(Previous); }

}  // namespace kestrune
