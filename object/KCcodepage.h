// Text at the object's boundary: UTF-16 in and out, 8-bit Windows-1252
// text inside, where every digest, key and cipher sees it.
#pragma once

#include <string>
#include <string_view>

namespace kestrune {

// Through the ANSI code page: on Windows the platform's converter in the
// system's ANSI code page, elsewhere ToCp1252 and FromCp1252.
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view text);

// Windows-1252 as the platform's converter does it, on every platform: a
// UTF-16 code unit the code page lacks becomes its best-fit character (a
// letter without its accent, for example) or else '?'. Each code unit
// converts on its own, so a surrogate pair becomes "??".
std::string ToCp1252(std::u16string_view text);
std::u16string FromCp1252(std::string_view text);

// File names go to the operating system in its native encoding (UTF-8 on
// POSIX), not through the code page. Unpaired surrogates become U+FFFD.
std::string ToNativeFileName(std::u16string_view name);

// UTF-8 to UTF-16 and back, for tools that take text from a terminal or
// from JSON. Malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kestrune
