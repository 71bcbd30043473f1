// Text at the object's boundary: UTF-16 in and out, 8-bit text in an ANSI
// code page inside, where every digest, key and cipher sees it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// Through the ANSI code page: on Windows the platform's converter in the
// calling thread's ANSI code page (its locale's, which a page's LCID sets);
// elsewhere ToCodePage in AnsiCodePage().
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view text);
// As ToAnsi, into out when the result fits there: the number of bytes
// written, or std::nullopt, with nothing written, when it does not. A
// caller converting secrets keeps them off the heap and wipes out itself.
std::optional<std::size_t> ToAnsi(std::u16string_view text, std::span<char> out);

// The code page ToAnsi and FromAnsi use now. On Windows the calling
// thread's; elsewhere the one SetAnsiCodePage chose, else the environment
// variable KESTRUNE_CODEPAGE (read once), else 1252. Throws
// std::invalid_argument, naming the supported pages, when the variable
// names none of them.
unsigned AnsiCodePage();
// Not on Windows, where the thread's locale decides. Throws
// std::invalid_argument for a code page that is not supported.
void SetAnsiCodePage(unsigned codePage);

// The ANSI code pages of Windows that the portable converter knows, each
// as the platform's converter does it: best-fit characters where the page
// lacks one, else its default character; for 932, 936, 949 and 950 lead
// and trail byte pairs both ways.
std::vector<unsigned> SupportedCodePages();
// "the supported code pages are 874, 932, ...", for error messages.
std::string SupportedCodePageList();
// "Windows-1251", "Windows-932 (Japanese, Shift JIS)", ...
std::string CodePageName(unsigned codePage);
// A code page number as a user writes it; throws std::invalid_argument,
// naming the supported pages, for anything else.
unsigned ParseCodePage(std::string_view text);
// Throw std::invalid_argument for a code page that is not supported.
std::string ToCodePage(unsigned codePage, std::u16string_view text);
std::u16string FromCodePage(unsigned codePage, std::string_view text);
// As ToAnsi into a buffer, in codePage.
std::optional<std::size_t> ToCodePage(unsigned codePage, std::u16string_view text, std::span<char> out);

// Windows-1252 as the platform's converter does it, on every platform: a
// UTF-16 code unit the code page lacks becomes its best-fit character (a
// letter without its accent, for example) or else '?'. Each code unit
// converts on its own, so a surrogate pair becomes "??".
std::string ToCp1252(std::u16string_view text);
// The same bytes into out, which holds at least text.size() bytes.
void ToCp1252(std::u16string_view text, char* out) noexcept;
std::u16string FromCp1252(std::string_view text);

// File names go to the operating system in its native encoding (UTF-8 on
// POSIX), not through the code page. Unpaired surrogates become U+FFFD.
std::string ToNativeFileName(std::u16string_view name);

// UTF-8 to UTF-16 and back, for tools that take text from a terminal or
// from JSON. Malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kestrune
