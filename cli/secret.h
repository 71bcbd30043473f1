// Storage for text that may hold a password: wiped before it is given back,
// so that neither a reallocation nor a release leaves a copy in free memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "framework/KCbytes.h"

namespace kestrune::cli {

template <class T>
struct TWipingAllocator {
    using value_type = T;
    TWipingAllocator() noexcept = default;
    template <class U>
    TWipingAllocator(const TWipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        SecureFill(p, n * sizeof(T), 0);
        std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const TWipingAllocator<U>&) const noexcept { return true; }
};

using TSecretString = std::basic_string<char, std::char_traits<char>, TWipingAllocator<char>>;
using TSecretU16String = std::basic_string<char16_t, std::char_traits<char16_t>, TWipingAllocator<char16_t>>;

// Overwrites all that text holds, its short-string storage included, then empties it.
template <class C, class A>
void Wipe(std::basic_string<C, std::char_traits<C>, A>& text) noexcept {
    SecureFill(text.data(), text.capacity() * sizeof(C), 0);
    text.clear();
}

}  // namespace kestrune::cli
