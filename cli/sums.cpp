#include "sums.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>
#include <stdexcept>

#include "algorithms.h"
#include "commands.h"
#include "object/KCcatalogue.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"

namespace kestrune::cli {
namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

bool IsHex(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool SameHex(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// The digest a tagged line names; codes do not count as tags.
std::optional<std::int32_t> TaggedDigest(std::string_view tag) {
    if (tag.empty() || IsHex(tag)) return std::nullopt;
    return ParseDigest(tag);
}

// A list's name in messages, quoted when it holds more than plain characters.
std::string Quoted(std::string_view name) {
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("._/+-:,@%=").find(c) != std::string_view::npos;
    });
    if (plain && !name.empty()) return std::string(name);
    std::string quoted = "'";
    for (char c : name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}


struct THashed {
    std::string hex;      // upper case, empty on failure
    std::string failure;  // why it failed
    bool missing = false;
};

THashed HashNamed(const std::string& name, std::int32_t digest, TProgressMode mode, const std::string& label) {
    THashed result;
    if (name != "-" && !IsUtf8(name)) {
        result.failure = "'" + name + "': file names must be UTF-8";
        return result;
    }
    const auto [source, openStatus] = OpenSource(name);
    if (!source) {
        result.missing = name != "-" && openStatus.fault == FileFault::NotFound;
        result.failure = FileFailureReason(openStatus, name, "");
        return result;
    }
    TProgress progress(mode, label, *source);
    const auto [digestText, status] = TKestrune().HashSource(*source, digest);
    progress.Finish();
    if (!status.Ok())
        result.failure = FileFailureReason(status, name, "");
    else
        result.hex = Utf16ToUtf8(digestText);
    return result;
}

std::string Label(const std::string& name) { return name == "-" ? "standard input" : name; }

std::string Counted(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + (count == 1 ? one : many);
}

}  // namespace

std::optional<TSumFormat> ParseSumFormat(std::string_view text) {
    if (text == "hex") return TSumFormat::Hex;
    if (text == "sum") return TSumFormat::Sum;
    if (text == "tag") return TSumFormat::Tag;
    return std::nullopt;
}

std::string DigestTag(std::int32_t digest) {
    std::string tag(RowFor(DigestCatalogue(), digest).name);
    std::erase(tag, '-');
    return tag;
}

std::size_t DigestHexDigits(std::int32_t digest) {
    return (static_cast<std::size_t>(DigestClassFor(digest).GetHashSize()) + 7) / 8 * 2;
}

bool NeedsEscape(std::string_view name) noexcept { return name.find_first_of("\\\n\r") != std::string_view::npos; }

std::string EscapedName(std::string_view name) {
    std::string escaped;
    for (char c : name) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

std::optional<std::string> UnescapedName(std::string_view text) {
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\': name += '\\'; break;
            case 'n': name += '\n'; break;
            case 'r': name += '\r'; break;
            default: return std::nullopt;
        }
    }
    return name;
}

std::string SumLine(TSumFormat format, std::int32_t digest, std::string_view hex, std::string_view name) {
    if (format == TSumFormat::Hex) return std::string(hex);
    const bool escape = NeedsEscape(name);
    const std::string shown = escape ? EscapedName(name) : std::string(name);
    const std::string lead = escape ? "\\" : "";
    if (format == TSumFormat::Sum) return lead + Lower(hex) + "  " + shown;
    return lead + DigestTag(digest) + " (" + shown + ") = " + Lower(hex);
}

std::optional<TSumEntry> TSumListReader::Parse(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    const bool escaped = i < line.size() && line[i] == '\\';
    if (escaped) ++i;
    const auto unescape = [escaped](std::string_view name) -> std::optional<std::string> {
        return escaped ? UnescapedName(name) : std::optional(std::string(name));
    };

    // Tagged: "TAG (name) = hex", the name up to the last ')'.
    std::size_t tagEnd = i;
    while (tagEnd < line.size() && (std::isalnum(static_cast<unsigned char>(line[tagEnd])) || line[tagEnd] == '-'))
        ++tagEnd;
    const std::size_t open = tagEnd < line.size() && line[tagEnd] == ' ' ? tagEnd + 1 : tagEnd;
    if (open < line.size() && line[open] == '(') {
        if (const auto digest = TaggedDigest(line.substr(i, tagEnd - i))) {
            const std::string_view rest = line.substr(open + 1);
            const std::size_t close = rest.rfind(')');
            if (close == std::string_view::npos) return std::nullopt;
            std::size_t j = close + 1;
            while (j < rest.size() && IsBlank(rest[j])) ++j;
            if (j == rest.size() || rest[j] != '=') return std::nullopt;
            ++j;
            while (j < rest.size() && IsBlank(rest[j])) ++j;
            const std::string_view hex = rest.substr(j);
            auto name = unescape(rest.substr(0, close));
            if (!name || hex.size() != DigestHexDigits(*digest) || !IsHex(hex)) return std::nullopt;
            return TSumEntry{*digest, std::string(hex), std::move(*name)};
        }
    }

    // Untagged: "hex  name" or "hex *name"; "hex name" in a reversed list.
    const std::size_t digits = DigestHexDigits(digest_);
    if (digits == 0 || line.size() < i + digits + 2) return std::nullopt;
    const std::string_view hex = line.substr(i, digits);
    std::size_t j = i + digits;
    if (!IsBlank(line[j++]) || !IsHex(hex)) return std::nullopt;
    if (line.size() - j == 1 || (line[j] != ' ' && line[j] != '*')) {
        // An attacker's file name with a leading space must not turn a
        // usual list into a reversed one.
        if (style_ == TStyle::Usual) return std::nullopt;
        style_ = TStyle::Reversed;
    } else if (style_ != TStyle::Reversed) {
        style_ = TStyle::Usual;
        ++j;  // ' ' text or '*' binary: the same bytes here
    }
    auto name = unescape(line.substr(j));
    if (!name || name->empty()) return std::nullopt;
    return TSumEntry{digest_, std::string(hex), std::move(*name)};
}

int HashFiles(const std::vector<std::string>& names, std::int32_t digest, TSumFormat format, TProgressMode progress,
              std::ostream& out, std::ostream& err) {
    int status = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        const std::string label = names.size() == 1 ? Label(name)
                                                    : "[" + std::to_string(i + 1) + "/" + std::to_string(names.size()) +
                                                          "] " + Label(name);
        const THashed hashed = HashNamed(name, digest, progress, label);
        if (hashed.hex.empty()) {
            err << "kestrune: hashing failed: " << hashed.failure << '\n';
            status = 1;
            continue;
        }
        WriteLine(out, SumLine(format, digest, hashed.hex, name));
    }
    return status;
}

int CheckSums(const std::string& list, std::istream& in, const TCheckOptions& options, std::ostream& out,
              std::ostream& err) {
    const bool fromStandardInput = list == "-";
    const std::string listName = Quoted(fromStandardInput ? "standard input" : list);
    std::unique_ptr<std::istream> opened;
    try {
        opened = OpenTextInput(list, in);
    } catch (const std::runtime_error& e) {
        err << "kestrune: " << e.what() << '\n';
        return 1;
    }
    std::istream& lines = *opened;

    TSumListReader reader(options.digest);
    std::uint64_t lineNumber = 0, misformatted = 0, unreadable = 0, mismatched = 0;
    bool anyProper = false, anyMatched = false;
    std::string line;
    while (std::getline(lines, line)) {
        ++lineNumber;
        if (line.starts_with('#')) continue;
        std::string_view text = line;
        if (text.ends_with('\r')) text.remove_suffix(1);
        if (text.empty()) continue;
        auto entry = reader.Parse(text);
        // "-" is standard input, which already holds the list.
        if (entry && fromStandardInput && entry->name == "-") entry.reset();
        if (!entry) {
            ++misformatted;
            if (options.warn)
                err << "kestrune: " << listName << ": " << lineNumber << ": improperly formatted "
                    << DigestTag(options.digest) << " checksum line\n";
            continue;
        }
        anyProper = true;
        const THashed hashed = HashNamed(entry->name, entry->digest, options.progress, Label(entry->name));
        // As sha256sum -c: only a line break in a name makes the answer escaped.
        const bool escape = !options.status && entry->name.find('\n') != std::string::npos;
        const std::string shown = escape ? "\\" + EscapedName(entry->name) : entry->name;
        if (hashed.hex.empty()) {
            if (options.ignoreMissing && hashed.missing) continue;
            ++unreadable;
            err << "kestrune: " << hashed.failure << '\n';
            if (!options.status) WriteLine(out, shown + ": FAILED open or read");
            continue;
        }
        const bool matched = SameHex(hashed.hex, entry->hex);
        if (matched)
            anyMatched = true;
        else
            ++mismatched;
        if (!options.status && !(matched && options.quiet)) WriteLine(out, shown + (matched ? ": OK" : ": FAILED"));
    }
    if (lines.bad()) {
        err << "kestrune: " << listName << ": read error\n";
        return 1;
    }

    if (!anyProper) {
        err << "kestrune: " << listName << ": no properly formatted checksum lines found\n";
        if (!options.digestChosen && misformatted > 0)
            err << "kestrune: lines without a tag are read as " << DigestTag(options.digest) << " digests ("
                << DigestHexDigits(options.digest) << " hexadecimal digits): name the digest with --hash\n";
        return 1;
    }
    if (!options.status) {
        if (misformatted > 0)
            err << "kestrune: WARNING: " << Counted(misformatted, " line is", " lines are") << " improperly formatted\n";
        if (unreadable > 0)
            err << "kestrune: WARNING: " << Counted(unreadable, " listed file", " listed files") << " could not be read\n";
        if (mismatched > 0)
            err << "kestrune: WARNING: " << Counted(mismatched, " computed checksum", " computed checksums")
                << " did NOT match\n";
        if (options.ignoreMissing && !anyMatched) err << "kestrune: " << listName << ": no file was verified\n";
    }
    const bool passed = anyMatched && mismatched == 0 && unreadable == 0 && !(options.strict && misformatted > 0);
    return passed ? 0 : 1;
}

}  // namespace kestrune::cli
