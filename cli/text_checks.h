// Checks on the text that the tool hands to the object, so that nothing is
// turned into garbage without a word: Base64 that is not what the object
// writes, and characters that the object's code page cannot hold.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::cli {

// Nothing when text is Base64 exactly as EncryptString writes it (the
// standard alphabet, "=" padding to a multiple of 4 characters, unused
// bits zero, no spaces or line breaks); otherwise what is wrong with it.
std::optional<std::string> Base64Problem(std::u16string_view text);

// The characters of text, each once in order of appearance, that the
// conversion to the object's code page replaces by another (a best-fit
// letter or '?').
std::vector<char32_t> ReplacedCharacters(std::u16string_view text);

// The warning for them, naming the active code page, or nothing when none
// is replaced. The characters of a secret are counted, never shown.
std::optional<std::string> ReplacementWarning(std::u16string_view text, std::string_view what, bool secret = false);

}  // namespace kestrune::cli
