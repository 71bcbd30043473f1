#include "commands.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <ostream>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "algorithms.h"
#include "framework/KCbase64.h"
#include "object/KCcodepage.h"

namespace kestrune::cli {
namespace {

// Columns padded to their widest cell; cells that are numbers line up on the right.
class TTable {
public:
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void Write(std::ostream& out) const {
        std::vector<std::size_t> widths;
        for (const auto& row : rows_)
            for (std::size_t i = 0; i < row.size(); ++i) {
                if (widths.size() <= i) widths.push_back(0);
                widths[i] = std::max(widths[i], row[i].size());
            }
        for (const auto& row : rows_) {
            std::string line;
            for (std::size_t i = 0; i < row.size(); ++i) {
                const std::string pad(widths[i] - row[i].size(), ' ');
                const bool last = i + 1 == row.size();
                if (IsNumber(row[i]))
                    line += pad + row[i];
                else
                    line += row[i] + (last ? "" : pad);
                if (!last) line += "  ";
            }
            out << line << '\n';
        }
    }

private:
    static bool IsNumber(const std::string& cell) {
        return !cell.empty() && cell.find_first_not_of("-0123456789") == std::string::npos;
    }
    std::vector<std::vector<std::string>> rows_;
};

extern "C" void RemoveTemporariesAndEnd(int signal) {
    RemoveTemporaryFiles();
    // The signal is blocked while its handler runs: raised again with the
    // default action, it ends the process as soon as the handler returns.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

std::u16string InputText(const std::string& argument, std::istream& in) {
    if (argument != "-") return Utf8ToUtf16(argument);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (text.ends_with('\n')) text.pop_back();
    if (text.ends_with('\r')) text.pop_back();
    return Utf8ToUtf16(text);
}

bool EncryptionFailed(std::u16string_view input, std::u16string_view result) { return result.empty() && !input.empty(); }

bool DecryptionFailed(std::u16string_view input, std::u16string_view result) {
    return result.empty() && !DecodeBase64String(ToAnsi(input)).empty();
}

bool IsUtf8(std::string_view text) { return Utf16ToUtf8(Utf8ToUtf16(text)) == text; }

FileOpening<TKC_sourcefile> OpenSource(const std::string& name) {
    return name == "-" ? TKC_sourcefile::StandardInput() : TKC_sourcefile::OpenAny(Utf8ToUtf16(name));
}

FileOpening<TKC_destinationfile> CreateDestination(const std::string& name, const TKC_sourcefile& source) {
    return name == "-" ? TKC_destinationfile::StandardOutput() : TKC_destinationfile::CreateAny(Utf8ToUtf16(name), source);
}

void RemoveTemporaryFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndEnd;
    sigfillset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

void WriteLine(std::ostream& out, std::string_view line) {
    if (!(out << line << '\n' << std::flush))
        throw std::runtime_error(std::string("cannot write to standard output: ") + std::strerror(errno));
}

std::unique_ptr<std::istream> OpenTextInput(const std::string& name, std::istream& standardInput) {
    if (name == "-") return std::make_unique<std::istream>(standardInput.rdbuf());
    const std::filesystem::path path(std::u8string(name.begin(), name.end()));
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw std::runtime_error(FileFailureReason(FileStatus::Of(FileFault::IsDirectory, FileRole::Source), name, ""));
    errno = 0;
    auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (!*file) {
        const int cause = errno;
        throw std::runtime_error(
            FileFailureReason(FileStatus::Of(FaultOfSystemError(cause), FileRole::Source, cause), name, ""));
    }
    return file;
}

std::string FileFailureReason(const FileStatus& status, const std::string& source, const std::string& dest) {
    const auto quoted = [](const std::string& name) { return "'" + name + "'"; };
    const bool reading = status.role == FileRole::Source;
    const std::string& name = reading ? source : dest;
    const std::string subject = name == "-" ? (reading ? "standard input" : "standard output") : quoted(name);
    std::string detail = FileFaultText(status.fault);
    switch (status.fault) {
        case FileFault::SameFile: return quoted(source) + " and " + quoted(dest) + " are the same file";
        case FileFault::OperationFailed: return "the digest or cipher failed (out of memory?)";
        case FileFault::ReadError:
            if (status.systemError == 0) detail = "it delivered fewer bytes than its size (did it shrink while being read?)";
            [[fallthrough]];
        case FileFault::WriteError:
            if (status.systemError != 0) detail += std::string(" (") + std::strerror(status.systemError) + ")";
            break;
        case FileFault::Other:
            if (status.systemError != 0) detail = std::strerror(status.systemError);
            break;
        default: break;
    }
    return (reading ? "cannot read " : "cannot write ") + subject + ": " + detail;
}

namespace {

// ", or aes for Rijndael" for the rows that have aliases.
template <typename Class>
std::string AliasClause(std::span<const TKC_catalogrow<Class>> rows) {
    std::string clause;
    for (const auto& row : rows)
        for (std::string_view alias : OwnAliases(row)) clause += ", or " + std::string(alias) + " for " + std::string(row.name);
    return clause;
}

}  // namespace

void WriteCatalogue(std::ostream& out, std::span<const TKC_digestrow> digestRows,
                    std::span<const TKC_cipherrow> cipherRows) {
    TTable digests;
    digests.Add({"code", "name", "class", "algorithm", "bits", "id"});
    for (const auto& row : digestRows) {
        const auto& cls = row.algorithmClass;
        digests.Add({std::to_string(row.code), std::string(row.name), std::string(row.className),
                     std::string(cls.GetAlgorithm()), std::to_string(cls.GetHashSize()), std::to_string(cls.GetId())});
    }
    out << "Digests (--hash NAME or CODE, in any case" << AliasClause(digestRows) << ")\n";
    digests.Write(out);

    TTable ciphers;
    ciphers.Add({"code", "name", "class", "algorithm", "block", "max key", "id"});
    for (const auto& row : cipherRows) {
        const auto& cls = row.algorithmClass;
        ciphers.Add({std::to_string(row.code), std::string(row.name), std::string(row.className),
                     std::string(cls.GetAlgorithm()), cls.GetBlockSize() < 0 ? "stream" : std::to_string(cls.GetBlockSize()),
                     std::to_string(cls.GetMaxKeySize()), std::to_string(cls.GetId())});
    }
    out << "\nCiphers (--cipher NAME or CODE, in any case" << AliasClause(cipherRows) << "; sizes in bits)\n";
    ciphers.Write(out);

    static constexpr const char* ModeTexts[] = {"cipher block chaining", "8-bit cipher feedback",
                                                "full-block cipher feedback", "output feedback", "counter"};
    TTable modes;
    for (std::int32_t mode = 0; mode < static_cast<std::int32_t>(std::size(ModeTexts)); ++mode)
        modes.Add({std::to_string(mode), std::string(ModeName(mode)), ModeTexts[mode]});
    out << "\nModes of the block ciphers for files (--mode NAME or NUMBER; strings always use cfb8)\n";
    modes.Write(out);
}

void WriteCatalogueJson(std::ostream& out, std::span<const TKC_digestrow> digestRows,
                        std::span<const TKC_cipherrow> cipherRows) {
    using Json = nlohmann::ordered_json;
    Json catalogue;
    catalogue["digests"] = Json::array();
    for (const auto& row : digestRows) {
        const auto& cls = row.algorithmClass;
        catalogue["digests"].push_back({{"code", row.code}, {"name", row.name}, {"class", row.className},
                                        {"aliases", Aliases(row)}, {"default", row.code == 0},
                                        {"algorithm", cls.GetAlgorithm()}, {"bits", cls.GetHashSize()},
                                        {"id", cls.GetId()}});
    }
    catalogue["ciphers"] = Json::array();
    for (const auto& row : cipherRows) {
        const auto& cls = row.algorithmClass;
        catalogue["ciphers"].push_back({{"code", row.code}, {"name", row.name}, {"class", row.className},
                                        {"aliases", Aliases(row)}, {"default", row.code == 0},
                                        {"algorithm", cls.GetAlgorithm()},
                                        // null: a stream cipher
                                        {"block", cls.GetBlockSize() < 0 ? Json() : Json(cls.GetBlockSize())},
                                        {"max_key", cls.GetMaxKeySize()}, {"id", cls.GetId()}});
    }
    catalogue["modes"] = Json::array();
    for (std::int32_t mode = 0; !ModeName(mode).empty(); ++mode)
        catalogue["modes"].push_back({{"code", mode}, {"name", ModeName(mode)}, {"default", mode == 0}});
    out << catalogue.dump(2) << '\n';
}

int RunSelfTest(std::ostream& out, std::span<const TKC_digestrow> digestRows,
                std::span<const TKC_cipherrow> cipherRows) {
    int passed = 0, failed = 0;
    TTable report;
    const auto check = [&](std::string_view kind, std::string_view name, std::string_view className, bool (*selfTest)()) {
        std::string result;
        bool ok = false;
        try {
            ok = selfTest();
        } catch (const std::exception& e) {
            result = std::string("FAILED (") + e.what() + ")";
        }
        if (ok)
            result = "ok";
        else if (result.empty())
            result = "FAILED";
        ++(ok ? passed : failed);
        report.Add({std::string(kind), std::string(name), std::string(className), result});
    };
    for (const auto& row : digestRows) check("digest", row.name, row.className, row.algorithmClass.SelfTest);
    for (const auto& row : cipherRows) check("cipher", row.name, row.className, row.algorithmClass.SelfTest);
    report.Write(out);
    // Every row is built; the third count stays for scripts that read this line.
    out << passed << " passed, " << failed << " failed, 0 not built\n";
    return failed == 0 ? 0 : 1;
}

}  // namespace kestrune::cli
