// hash-file over several files, with output that sha256sum and its kin
// read, and --check, which verifies such lists as `sha256sum -c` does: the
// same line formats, name escaping, per-file answers, warnings and exit
// status.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "progress.h"

namespace kestrune::cli {

enum class TSumFormat {
    Hex,  // the object's upper-case digest text alone
    Sum,  // "<lower-case hex>  <name>", as sha256sum prints
    Tag,  // "SHA256 (<name>) = <lower-case hex>", as sha256sum --tag prints
};

// "hex", "sum" or "tag".
std::optional<TSumFormat> ParseSumFormat(std::string_view text);

// The name of a digest in tagged lines: its catalogue name without
// hyphens, which gives the names coreutils uses (MD5, SHA1, SHA256, ...).
std::string DigestTag(std::int32_t digest);

// Hexadecimal digits in a digest of this code.
std::size_t DigestHexDigits(std::int32_t digest);

// A name with a backslash, line feed or carriage return is written with
// those escaped (\\, \n, \r), and its line starts with a backslash.
bool NeedsEscape(std::string_view name) noexcept;
std::string EscapedName(std::string_view name);
// Undoes EscapedName; empty for an invalid escape.
std::optional<std::string> UnescapedName(std::string_view text);

// One output line of hash-file, without its line break; hex as the object gives it.
std::string SumLine(TSumFormat format, std::int32_t digest, std::string_view hex, std::string_view name);

struct TSumEntry {
    std::int32_t digest;
    std::string hex;
    std::string name;
};

// Reads the lines of one list. Untagged lines hold digests of the chosen
// digest; a tagged line names its own. As sha256sum does, a list whose
// first untagged line has a single space after the digest ("hex name",
// as BSD's -r prints) is read in that form throughout, and a list of the
// usual form refuses such lines.
class TSumListReader {
public:
    explicit TSumListReader(std::int32_t digest) noexcept : digest_(digest) {}
    // A line without its line break and carriage return; empty when it is
    // not a properly formatted line.
    std::optional<TSumEntry> Parse(std::string_view line);

private:
    enum class TStyle { Unknown, Usual, Reversed };
    std::int32_t digest_;
    TStyle style_ = TStyle::Unknown;
};

// hash-file FILE...: each file's line on out; a file that cannot be read is
// reported on err and the others go on. 0 when every file was hashed.
int HashFiles(const std::vector<std::string>& names, std::int32_t digest, TSumFormat format, TProgressMode progress,
              std::ostream& out, std::ostream& err);

struct TCheckOptions {
    std::int32_t digest = 0;      // of untagged lines
    bool digestChosen = false;    // --hash given, for the hint when nothing matches
    bool quiet = false;           // no OK lines
    bool status = false;          // no output; the exit status tells
    bool strict = false;          // improperly formatted lines fail the check
    bool ignoreMissing = false;   // files that do not exist are passed over
    bool warn = false;            // name each improperly formatted line
    TProgressMode progress = TProgressMode::Auto;
};

// hash-file --check LIST ("-": standard input, given as in). 0 when every
// listed file was read and matched.
int CheckSums(const std::string& list, std::istream& in, const TCheckOptions& options, std::ostream& out,
              std::ostream& err);

}  // namespace kestrune::cli
