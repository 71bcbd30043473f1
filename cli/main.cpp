// kestrune: the crypto object's operations from the command line, and a
// batch mode that drives one object with JSON Lines.
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <iostream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

#include "algorithms.h"
#include "batch.h"
#include "commands.h"
#include "help.h"
#include "host.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"
#include "password_source.h"
#include "progress.h"
#include "version.h"

namespace {

using namespace kestrune;
using namespace kestrune::cli;

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// A failure to report on standard error with exit status 1.
class EFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TSelectionArgs {
    std::string hash = "MD5";
    std::string cipher = "Blowfish";
    std::string mode = "cbc";
};

// Shared by the four cipher commands, of which one runs.
struct TPasswordArgs {
    std::string literal, file, variable;
};

CLI::Validator Choice(std::optional<std::int32_t> (*parse)(std::string_view), std::string what, std::string choices) {
    return CLI::Validator(
        [=](std::string& text) {
            return parse(text) ? std::string() : "unknown " + what + " '" + text + "': use " + choices;
        },
        "", what);
}

void AddDigestOption(CLI::App& command, std::string& hash, const char* help) {
    command.add_option("--hash", hash, help)
        ->type_name("DIGEST")
        ->capture_default_str()
        ->check(Choice(ParseDigest, "digest", DigestChoices()));
}

// The mode matters to the file commands only: strings always use cfb8. The
// string commands still take it, unlisted, as they always have.
void AddCipherOptions(CLI::App& command, TSelectionArgs& selection, TPasswordArgs& password, bool modeMatters) {
    command.add_option("--cipher", selection.cipher, "Cipher: a name or code from 'kestrune list'")
        ->type_name("CIPHER")
        ->capture_default_str()
        ->check(Choice(ParseCipher, "cipher", CipherChoices()));
    AddDigestOption(command, selection.hash, "Digest that turns the password into the key");
    command.add_option("--mode", selection.mode, "Chaining mode of block ciphers: cbc, cfb8, cfbblock, ofb, ctr or 0 to 4")
        ->type_name("MODE")
        ->capture_default_str()
        ->check(Choice(ParseMode, "mode", "cbc, cfb8, cfbblock, ofb, ctr or 0 to 4"))
        ->group(modeMatters ? "Options" : "");
    auto* fileOption = command.add_option("--password-file", password.file, "Read the password from the first line of PATH")
                           ->type_name("PATH");
    auto* variableOption = command
                               .add_option("--password-env", password.variable,
                                           std::string("Read the password from the environment variable NAME (by default ") +
                                               DefaultPasswordVariable + ", when it is set)")
                               ->type_name("NAME");
    auto* literalOption =
        command
            .add_option(
                "--password", password.literal,
                "The password itself. Other users of this machine can see it in the process list: prefer the other ways")
            ->type_name("TEXT");
    fileOption->excludes(variableOption)->excludes(literalOption);
    variableOption->excludes(literalOption);
}

TKestrune ObjectFor(const TSelectionArgs& selection) {
    TKestrune object;
    object.SetHashAlgorithm(*ParseDigest(selection.hash));
    object.SetCipherAlgorithm(*ParseCipher(selection.cipher));
    object.SetCipherMode(*ParseMode(selection.mode));
    return object;
}

TSecretText PasswordFrom(const CLI::App& command, TPasswordArgs& args, bool confirm) {
    PasswordOptions options;
    if (command.count("--password") > 0) options.literal = &args.literal;
    if (command.count("--password-file") > 0) options.file = &args.file;
    if (command.count("--password-env") > 0) options.variable = &args.variable;
    TSecretText password = ObtainPassword(options, confirm);
    WipeString(args.literal);
    return password;
}

// The parser keeps its own copies of option values, and the arguments stay
// readable in the process list; neither should hold the password longer
// than needed.
void WipePasswordArguments(int argc, char** argv, std::span<CLI::App* const> commands) {
    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        if (std::strcmp(arg, "--password") == 0 && i + 1 < argc)
            std::memset(argv[i + 1], 'x', std::strlen(argv[i + 1]));
        else if (std::strncmp(arg, "--password=", 11) == 0)
            std::memset(arg + 11, 'x', std::strlen(arg + 11));
    }
    for (auto* command : commands)
        if (auto* option = command->get_option_no_throw("--password"))
            for (auto& value : const_cast<CLI::results_t&>(option->results())) WipeString(value);
}

// Passwords pass through this process: it leaves no core file, and other
// processes of the same user may not attach to it or read its memory.
void ForbidCoreDumps() noexcept {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// The parser's own message for surplus arguments lists them, and one may be
// the value of a misplaced --password: this one names the options among
// them and only counts the rest.
std::string FailureMessage(const CLI::App* app, const CLI::Error& e) {
    if (dynamic_cast<const CLI::ExtrasError*>(&e) == nullptr) return CLI::FailureMessage::simple(app, e);
    std::string names;
    std::size_t values = 0;
    for (const std::string& arg : app->remaining(true)) {
        if (arg.size() > 1 && arg.front() == '-')
            names += " " + arg.substr(0, arg.find('='));
        else
            ++values;
    }
    std::string message = "Unexpected arguments:" + names;
    if (values > 0) message += (names.empty() ? " " : " and ") + std::to_string(values) + " value(s), not shown";
    return message + "\nRun with --help for more information.\n";
}

std::string FileName(const std::string& name) {
    if (!IsUtf8(name)) throw EFailure("'" + name + "': file names must be UTF-8");
    return name;
}

std::optional<std::uint64_t> SizeOf(const TKC_sourcefile& file) {
    if (file.IsStream()) return std::nullopt;
    return file.Size();
}

std::string Subject(const std::string& name, const char* standard) { return name == "-" ? standard : name; }

void Print(std::u16string_view text) {
    std::cout << Utf16ToUtf8(text) << '\n' << std::flush;
    if (!std::cout) throw EFailure("cannot write to standard output");
}

// A failed call as a script would see it: status, description, source.
int Report(const TFailure& failure) {
    std::cerr << "kestrune: " << HResultText(failure.hresult) << ": " << failure.description << " (source: " << failure.source
              << ")\n";
    return ExitFailure;
}

// kestrune call: the properties of --put in order, then the member, with
// every argument passed as a string, as a script passes text.
int RunCall(const std::vector<std::string>& puts, const std::vector<std::string>& words) {
    TScriptHost host("kestrune call");
    if (const auto& failure = host.CreationFailure()) return Report(*failure);
    for (const auto& assignment : puts) {
        const auto equals = assignment.find('=');
        std::vector<TVariant> value;
        value.push_back(TVariant::Text(Utf8ToUtf16(assignment.substr(equals + 1))));
        auto outcome = host.Invoke(Utf8ToUtf16(assignment.substr(0, equals)), TInvokeKind::Put, std::move(value));
        if (const auto* failure = std::get_if<TFailure>(&outcome)) return Report(*failure);
    }
    std::vector<TVariant> args;
    for (std::size_t i = 1; i < words.size(); ++i) args.push_back(TVariant::Text(Utf8ToUtf16(words[i])));
    auto outcome = host.Invoke(Utf8ToUtf16(words[0]), TInvokeKind::Script, std::move(args));
    if (const auto* failure = std::get_if<TFailure>(&outcome)) return Report(*failure);
    const TVariant& result = std::get<TVariant>(outcome);
    if (result.Type() == VT_BSTR)
        Print(automation::TextOf(result->bstrVal));
    else if (result.Type() == VT_I4)
        Print(Utf8ToUtf16(std::to_string(result->lVal)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ForbidCoreDumps();
    CLI::App app("Hashing, encryption and password generation with the Kestrune crypto object.", "kestrune");
    app.failure_message(FailureMessage);
    app.require_subcommand(1);
    app.formatter(HelpFormatter());
    app.footer(ToolFooter());
    app.set_version_flag("--version", VersionLine(), "Print the version and the commit it was built from, and exit");

    std::string text, source, dest;
    TSelectionArgs selection;
    TPasswordArgs password;

    auto& hashString = *app.add_subcommand("hash-string", "Print the digest of a text");
    hashString.add_option("text", text, "The text, or - to read standard input")->required();
    AddDigestOption(hashString, selection.hash, "Digest: a name or code from 'kestrune list'");

    auto& hashFile = *app.add_subcommand("hash-file", "Print the digest of a file's bytes");
    hashFile.add_option("file", source, "The file, or - to read standard input")->required();
    AddDigestOption(hashFile, selection.hash, "Digest: a name or code from 'kestrune list'");

    auto& encryptString = *app.add_subcommand("encrypt-string", "Encrypt a text; print it as Base64");
    encryptString.add_option("text", text, "The text, or - to read standard input")->required();
    AddCipherOptions(encryptString, selection, password, false);

    auto& decryptString = *app.add_subcommand("decrypt-string", "Decrypt Base64 text from encrypt-string");
    decryptString.add_option("text", text, "The Base64 text, or - to read standard input")->required();
    AddCipherOptions(decryptString, selection, password, false);

    auto& encryptFile = *app.add_subcommand("encrypt-file", "Encrypt a file into another (same length, no header)");
    encryptFile.add_option("source", source, "The file to encrypt, or - to read standard input")->required();
    encryptFile.add_option("dest", dest, "The encrypted file to write (replaced if it exists), or - for standard output")->required();
    AddCipherOptions(encryptFile, selection, password, true);

    auto& decryptFile = *app.add_subcommand("decrypt-file", "Decrypt a file from encrypt-file into another");
    decryptFile.add_option("source", source, "The encrypted file, or - to read standard input")->required();
    decryptFile.add_option("dest", dest, "The file to write (replaced if it exists), or - for standard output")->required();
    AddCipherOptions(decryptFile, selection, password, true);

    std::int32_t length = 8, count = 1;
    std::string style;
    auto& genPassword = *app.add_subcommand("gen-password", "Print generated passwords (predictable: see its --help)");
    genPassword.add_option("-n,--length", length, "Characters per password")->capture_default_str();
    genPassword.add_option(
        "-s,--style", style,
        "Pattern: ? letter or digit, 0 digit, A upper-case letter, a lower-case letter, anything else itself; "
        "positions past its end are ?");
    genPassword.add_option("-c,--count", count, "How many passwords")->capture_default_str()->check(CLI::NonNegativeNumber);

    bool listJson = false;
    auto& list = *app.add_subcommand("list", "List the digests, ciphers and modes with their codes and sizes");
    list.add_flag("--json", listJson, "Print the catalogue as one JSON object");
    auto& selfTest = *app.add_subcommand("selftest", "Run the self-test of every digest and cipher");
    std::string requests = "-";
    auto& batch = *app.add_subcommand("batch", "Drive one object with JSON Lines from a file or standard input (see its --help)");
    batch.add_option("file", requests, "The requests, one per line; - (the default) for standard input")->type_name("FILE");

    std::vector<std::string> puts;
    auto& call = *app.add_subcommand("call", "Call one member of the object by name, as a script does (see its --help)");
    call.add_option("--put", puts, "Set a property first, as a script does (repeatable, in order)")
        ->type_name("PROPERTY=VALUE")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& assignment) { return assignment.find('=') == std::string::npos ? "expected PROPERTY=VALUE" : ""; }, "", ""));
    call.prefix_command();  // MEMBER and everything after it are taken as they are

    auto& registerServer = *app.add_subcommand(
        "register", "Register the automation server brindel_Kestrune (its class and type library entries)");
    auto& unregisterServer = *app.add_subcommand("unregister", "Remove the automation server's registration");

    std::vector<std::string> helpWords;
    bool helpAll = false;
    auto& help = *app.add_subcommand("help", "Print the help of the tool or of one command");
    help.add_option("command", helpWords, "The command whose help to print")->type_name("COMMAND");
    help.add_flag("--all", helpAll, "Print the help of the tool and then that of every command");

    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) command->footer(CommandFooter(command->get_name()));

    const std::array<CLI::App*, 4> cipherCommands = {&encryptString, &decryptString, &encryptFile, &decryptFile};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        WipePasswordArguments(argc, argv, cipherCommands);
        return app.exit(e) == 0 ? 0 : ExitUsage;
    }
    WipePasswordArguments(argc, argv, cipherCommands);

    try {
        if (hashString) {
            const TKestrune object = ObjectFor(selection);
            const auto digest = object.HashString(InputText(text, std::cin));
            if (digest.empty()) throw EFailure("hashing failed");
            Print(digest);
        } else if (hashFile) {
            const TKestrune object = ObjectFor(selection);
            const std::string file = FileName(source);
            const auto opened = OpenSource(file);
            if (!opened) throw EFailure("hashing failed: " + FileFailureReason(file, ""));
            TProgress progress("Hashing", "Hashed", Subject(file, "standard input"), SizeOf(*opened));
            const auto digest = object.HashSource(*opened);
            progress.Finish(!digest.empty());
            if (digest.empty()) throw EFailure("hashing failed: " + FileFailureReason(file, ""));
            Print(digest);
        } else if (encryptString || decryptString) {
            const bool encrypt = encryptString.parsed();
            const TKestrune object = ObjectFor(selection);
            const auto input = InputText(text, std::cin);
            const TSecretText key = PasswordFrom(encrypt ? encryptString : decryptString, password, encrypt);
            const auto result = encrypt ? object.EncryptString(input, key.View()) : object.DecryptString(input, key.View());
            if (encrypt ? EncryptionFailed(input, result) : DecryptionFailed(input, result))
                throw EFailure(encrypt ? "encryption failed" : "decryption failed");
            Print(result);
        } else if (encryptFile || decryptFile) {
            const bool encrypt = encryptFile.parsed();
            const TKestrune object = ObjectFor(selection);
            const std::string from = FileName(source), to = FileName(dest);
            const TSecretText key = PasswordFrom(encrypt ? encryptFile : decryptFile, password, encrypt);
            RemoveTemporaryFilesOnSignals();
            const auto input = OpenSource(from);
            const auto output = input ? CreateDestination(to, *input) : nullptr;
            if (!output)
                throw EFailure(std::string(encrypt ? "encryption" : "decryption") +
                               " failed: " + FileFailureReason(from, to));
            TProgress progress(encrypt ? "Encrypting" : "Decrypting", encrypt ? "Encrypted" : "Decrypted",
                               Subject(from, "standard input"), SizeOf(*input));
            const auto status = encrypt ? object.EncryptSource(*input, *output, key.View())
                                        : object.DecryptSource(*input, *output, key.View());
            progress.Finish(status == 0);
            if (status != 0)
                throw EFailure(std::string(encrypt ? "encryption" : "decryption") +
                               " failed: " + FileFailureReason(from, to));
        } else if (genPassword) {
            const TKestrune object;
            const auto pattern = Utf8ToUtf16(style);
            for (std::int32_t i = 0; i < count; ++i) Print(object.GenPassword(length, pattern));
        } else if (list) {
            if (listJson)
                WriteCatalogueJson(std::cout);
            else
                WriteCatalogue(std::cout);
        } else if (selfTest) {
            return RunSelfTest(std::cout);
        } else if (batch) {
            // Buffered standard streams: the lines are read in pieces, not a character at a time.
            // This replaces std::cin's buffer, so it comes before anything takes that buffer.
            std::ios::sync_with_stdio(false);
            const auto input = OpenRequests(FileName(requests), std::cin);
            TScriptHost host(std::string{BatchSource});
            if (const auto& failure = host.CreationFailure()) return Report(*failure);
            return RunBatch(*input, std::cout, host) == 0 ? 0 : ExitFailure;
        } else if (registerServer || unregisterServer) {
            const HRESULT hr = registerServer ? DllRegisterServer() : DllUnregisterServer();
            if (FAILED(hr))
                throw EFailure(std::string(registerServer ? "registration" : "unregistration") + " failed with " +
                               HResultText(hr) + ": the registry store could not be read or written");
        } else if (help) {
            return PrintHelp(app, helpWords, helpAll, std::cout, std::cerr);
        } else if (call) {
            if (call.remaining().empty()) {
                std::cerr << "kestrune call: a MEMBER is required\nRun with --help for more information.\n";
                return ExitUsage;
            }
            return RunCall(puts, call.remaining());
        }
    } catch (const std::exception& e) {
        std::cerr << "kestrune: " << e.what() << '\n';
        return ExitFailure;
    }
    return std::cout.flush() ? 0 : ExitFailure;
}
