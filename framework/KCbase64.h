// Base64 with the standard alphabet and "=" padding, no line breaks. The
// decoder never fails: malformed text decodes by fixed rules, so that text
// stored by earlier releases decodes to the same bytes as it always did.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "KCbytes.h"

namespace kestrune {

// Number of characters that encoding size bytes produces.
constexpr std::size_t Base64EncodedSize(std::size_t size) noexcept { return (size + 2) / 3 * 4; }

// Writes Base64EncodedSize(source.size()) characters to dest; returns that count.
std::size_t EncodeBase64(ConstBytes source, std::span<char> dest) noexcept;
// Decodes whole groups of 4 characters (a trailing partial group is ignored)
// into dest, which holds at least source.size() / 4 * 3 bytes; returns the
// number of bytes written. dest may start where source does: each group is
// read before its bytes are written.
std::size_t DecodeBase64(std::string_view source, Bytes dest) noexcept;

std::string EncodeBase64String(std::string_view bytes);
std::string DecodeBase64String(std::string_view text);

}  // namespace kestrune
