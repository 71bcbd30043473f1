// kestrune identify: the settings that produced a stored value, found by
// trying every cipher and digest (and mode, for files) with each candidate
// password, in parallel, and ranking what comes out by how much it looks
// like real data rather than the noise a wrong key gives. And the digest
// that produced a stored digest text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/KCbytes.h"
#include "password_source.h"

namespace kestrune::cli {

// How much of an encrypted file each candidate decrypts: a whole number of
// blocks of every cipher, so that it is exactly the start of the whole
// file's decryption, and enough for every file-type signature we rely on.
inline constexpr std::size_t IdentifyWindowBytes = 4096;

// Scores are bits of evidence against "the key was wrong": about how many
// bits of random output it would take to look this structured.
inline constexpr double PlausibleTextBits = 16;
inline constexpr double PlausibleFileBits = 24;  // more than a recognised type alone

struct TIdentifyOptions {
    std::optional<std::string> knownPrefix;  // UTF-8: the text's start, or a file's first bytes
    std::optional<std::string> knownType;    // a file type: MIME type, its parts, or a description's start
    std::size_t top = 5;                     // how many candidates to report; 0 for all
    unsigned threads = 0;                    // 0: one per core
};

struct TCandidate {
    std::int32_t cipher = 0, digest = 0;
    std::optional<std::int32_t> mode;  // files and block ciphers only: strings always use cfb8
    std::size_t password = 0;          // index of the password tried
    double score = 0;
    std::string type, mime;            // files: what libmagic recognises
    double printable = 0;              // strings: share of characters that are printable
    std::string preview;               // the start of the plaintext, control characters escaped
    double detail = 0;                 // breaks ties of score: the structure of a file's header
    double typeBits = 0;               // the part of a file's score that its recognised type gave
};

struct TIdentifyResult {
    std::size_t tried = 0;               // settings and passwords tried
    std::vector<TCandidate> candidates;  // the plausible ones, best first
};

// A stored EncryptString value: every cipher and digest, through the
// object's own members and text conversion. A candidate must give back the
// value when its plaintext is encrypted again.
TIdentifyResult IdentifyText(std::u16string_view base64, std::span<const TSecretText> passwords,
                             const TIdentifyOptions& options);

// The start of a stored EncryptFile file (its first IdentifyWindowBytes, or
// all of a shorter one): every cipher, digest and mode.
TIdentifyResult IdentifyFileStart(ConstBytes start, std::span<const TSecretText> passwords,
                                  const TIdentifyOptions& options);

// The first IdentifyWindowBytes of a file ("-" for standard input);
// std::runtime_error with the reason when it cannot be read.
std::vector<std::uint8_t> ReadFileStart(const std::string& name);

// The candidate passwords of a file, one per line (LF or CR LF); empty
// lines are skipped. EPasswordSource when it cannot be read or holds none.
std::vector<TSecretText> ReadPasswordList(const std::string& path);

// The digest codes whose digest of text (through HashString) or of a
// file's bytes is digestText: hexadecimal in either case, spaces around
// ignored. Empty when none matches; std::invalid_argument when digestText
// is not hexadecimal of a digest size the catalogue has.
std::vector<std::int32_t> IdentifyTextDigest(std::string_view digestText, std::u16string_view text);
std::vector<std::int32_t> IdentifyFileDigest(std::string_view digestText, const std::string& file);

// The answer as one JSON object: {"tried": N, "candidates": [...]}; the
// password's line is given when passwordsListed.
std::string IdentifyJson(const TIdentifyResult& result, bool isFile, bool passwordsListed);
std::string DigestJson(std::span<const std::int32_t> codes);

// The answer as an aligned table for people.
void WriteCandidates(std::ostream& out, const TIdentifyResult& result, bool isFile, bool passwordsListed);

// What TEXT may be given as to --known-type, and the test against one
// libmagic answer (case ignored): the MIME type, its type or subtype
// ("image/png", "image", "png") or the start of the description up to a
// word's end ("PNG", "PNG image").
bool TypeMatches(std::string_view wanted, std::string_view mime, std::string_view description);

}  // namespace kestrune::cli
