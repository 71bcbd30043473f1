#include "KCcodepage.h"

namespace kestrune {

// POSIX has no ANSI code page; Windows-1252 is what Windows servers use.
std::string ToAnsi(std::u16string_view text) { return ToCp1252(text); }

std::u16string FromAnsi(std::string_view text) { return FromCp1252(text); }

}  // namespace kestrune
