// The pieces of the tool's subcommands that do not parse arguments: input
// text, telling a failed result from an empty one, telling why a file
// operation failed, and the list and selftest reports.
#pragma once

#include <iosfwd>
#include <istream>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "object/KCcatalogue.h"
#include "object/KCfiles.h"

namespace kestrune::cli {

// The text argument as UTF-16, or all of in when it is "-", without one
// trailing line break, so that piped lines and this tool's own output can
// be fed back in.
std::u16string InputText(const std::string& argument, std::istream& in);

// A successful hash is never empty; encryption and decryption give an empty
// result for an empty input, and decryption also for text that decodes to
// no bytes at all.
bool EncryptionFailed(std::u16string_view input, std::u16string_view result);
bool DecryptionFailed(std::u16string_view input, std::u16string_view result);

// The object takes Unicode file names; a name that is not UTF-8 would reach
// the file system as a different name.
bool IsUtf8(std::string_view text);

// The files of a file command, through the object's own file classes:
// "-" is standard input or output, and a name that is not a regular file
// (a pipe, a FIFO, /dev/stdin, <(...)) is read or written as a stream.
// Null with the reason when it cannot be opened or created.
FileOpening<TKC_sourcefile> OpenSource(const std::string& name);
FileOpening<TKC_destinationfile> CreateDestination(const std::string& name, const TKC_sourcefile& source);

// Writes line and a line break to out, which is standard output, and
// flushes; throws std::runtime_error with the reason when that fails.
void WriteLine(std::ostream& out, std::string_view line);

// A list or request file read as text, or standard input for "-"; throws
// std::runtime_error with the reason, worded as the file commands word it.
std::unique_ptr<std::istream> OpenTextInput(const std::string& name, std::istream& standardInput);

// From here on SIGINT, SIGTERM and SIGHUP first remove the named temporary
// files of the operation in progress, then end the tool with the signal.
void RemoveTemporaryFilesOnSignals();

// Why an operation on these files failed, as the object found it, naming
// the file concerned ("cannot write 'out': permission denied"). dest is
// empty for hashing; "-" stands for standard input or output.
std::string FileFailureReason(const FileStatus& status, const std::string& source, const std::string& dest);

// Both catalogues with names, classes, sizes and ids, then the modes. The
// tables are the shipped ones unless a caller (a test) gives others.
void WriteCatalogue(std::ostream& out, std::span<const TKC_digestrow> digests = DigestCatalogue(),
                    std::span<const TKC_cipherrow> ciphers = CipherCatalogue());

// The same as one JSON object: "digests" and "ciphers" (code, name, class,
// aliases, default, algorithm, sizes in bits, id; a stream cipher's block
// is null) and "modes" (code, name, default).
void WriteCatalogueJson(std::ostream& out, std::span<const TKC_digestrow> digests = DigestCatalogue(),
                        std::span<const TKC_cipherrow> ciphers = CipherCatalogue());

// Runs every row's self-test and reports each; 0 when none fails.
int RunSelfTest(std::ostream& out, std::span<const TKC_digestrow> digests = DigestCatalogue(),
                std::span<const TKC_cipherrow> ciphers = CipherCatalogue());

}  // namespace kestrune::cli
