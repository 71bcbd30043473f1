// Text at the object's boundary: UTF-16 in and out, 8-bit Windows-1252
// text inside, where every digest, key and cipher sees it.
#pragma once

#include <string>
#include <string_view>

namespace kestrune {

// A UTF-16 code unit that Windows-1252 cannot represent becomes '?'.
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view text);

// File names go to the operating system in its native encoding (UTF-8 on
// POSIX), not through the code page. Unpaired surrogates become U+FFFD.
std::string ToNativeFileName(std::u16string_view name);

// UTF-8 to UTF-16 and back, for tools that take text from a terminal or
// from JSON. Malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kestrune
