// A library user's program: SHA-256 (code 6) of "abc" through the object.
#include <kestrune/object/UKestrune.h>

#include <iostream>

int main() {
    const kestrune::TKestrune object;
    const std::u16string digest = object.HashString(u"abc", 6);
    std::cout << std::string(digest.begin(), digest.end()) << '\n';
}
