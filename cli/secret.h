// Storage for text that may hold a password: wiped before it is given back,
// so that neither a reallocation nor a release leaves a copy in free memory.
#pragma once

#include <cstddef>
#include <string>

#include "framework/KCbytes.h"
#include "framework/KCcrypt.h"

namespace kestrune::cli {

// The framework's wiping allocator, under the name the tool's types use.
template <class T>
using TWipingAllocator = WipingAllocator<T>;

using TSecretString = std::basic_string<char, std::char_traits<char>, TWipingAllocator<char>>;
using TSecretU16String = std::basic_string<char16_t, std::char_traits<char16_t>, TWipingAllocator<char16_t>>;

// Overwrites all that text holds, its short-string storage included, then empties it.
template <class C, class A>
void Wipe(std::basic_string<C, std::char_traits<C>, A>& text) noexcept {
    SecureFill(text.data(), text.capacity() * sizeof(C), 0);
    text.clear();
}

}  // namespace kestrune::cli
