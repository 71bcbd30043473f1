// kestrune: the crypto object's operations from the command line, and a
// batch mode that drives one object with JSON Lines.
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

#include "age.h"
#include "algorithms.h"
#include "batch.h"
#include "commands.h"
#include "help.h"
#include "host.h"
#include "identify.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"
#include "password_source.h"
#include "progress.h"
#include "sums.h"
#include "text_checks.h"
#include "upgrade.h"
#include "usage.h"
#include "version.h"

namespace {

using namespace kestrune;
using namespace kestrune::cli;

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
    bool allowEmpty = false;
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

void AddPasswordOptions(CLI::App& command, TPasswordArgs& password);

// The mode matters to the file commands only: strings always use cfb8. The
// string commands still take it, unlisted, as they always have.
void AddCipherOptions(CLI::App& command, TSelectionArgs& selection, TPasswordArgs& password, bool modeMatters) {
    command.add_option("--cipher", selection.cipher, "Cipher: a name or code from 'kestrune list', or aes for Rijndael")
        ->type_name("CIPHER")
        ->capture_default_str()
        ->check(Choice(ParseCipher, "cipher", CipherChoices()));
    AddDigestOption(command, selection.hash, "Digest that turns the password into the key");
    command.add_option("--mode", selection.mode, "Chaining mode of block ciphers: cbc, cfb8, cfbblock, ofb, ctr or 0 to 4")
        ->type_name("MODE")
        ->capture_default_str()
        ->check(Choice(ParseMode, "mode", "cbc, cfb8, cfbblock, ofb, ctr or 0 to 4"))
        ->group(modeMatters ? "Options" : "");
    AddPasswordOptions(command, password);
}

void AddPasswordOptions(CLI::App& command, TPasswordArgs& password) {
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
    command.add_flag("--allow-empty-password", password.allowEmpty,
                     "Use an empty password rather than refuse it (it protects nothing)");
}

void AddProgressOptions(CLI::App& command, bool& forced, bool& quiet, const char* quietHelp) {
    auto* progress = command.add_flag("--progress", forced,
                                      "Show the progress bar even when standard error is not a terminal");
    command.add_flag("-q,--quiet", quiet, quietHelp)->excludes(progress);
}

// hash-file's output formats and --check with the options of sha256sum -c.
void AddSumOptions(CLI::App& command, CLI::Option& files, std::string& format, bool& tag, std::string& checkList,
                   TCheckOptions& check) {
    auto* formatOption =
        command
            .add_option("--format", format,
                        "hex: the digest alone, upper case (the default for one file); sum: '<digest>  <name>' "
                        "as sha256sum prints (the default for several); tag: 'SHA256 (<name>) = <digest>'")
            ->type_name("FORMAT")
            ->check(CLI::IsMember({"hex", "sum", "tag"}));
    auto* tagOption = command.add_flag("--tag", tag, "Same as --format tag")->excludes(formatOption);
    auto* checkOption =
        command
            .add_option("-c,--check", checkList,
                        "Check the files listed in LIST (- for standard input), in the format of sha256sum -c; "
                        "untagged lines hold --hash digests")
            ->type_name("LIST")
            ->excludes(&files)
            ->excludes(formatOption)
            ->excludes(tagOption);
    command.add_flag("--status", check.status, "With --check: print nothing, the exit status tells")->needs(checkOption);
    command.add_flag("--strict", check.strict, "With --check: improperly formatted lines fail the check")
        ->needs(checkOption);
    command.add_flag("--ignore-missing", check.ignoreMissing, "With --check: pass over listed files that do not exist")
        ->needs(checkOption);
    command.add_flag("-w,--warn", check.warn, "With --check: name each improperly formatted line")->needs(checkOption);
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
    options.allowEmpty = args.allowEmpty;
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

std::string FileName(const std::string& name) {
    if (!IsUtf8(name)) throw EFailure("'" + name + "': file names must be UTF-8");
    return name;
}

std::string Subject(const std::string& name, const char* standard) { return name == "-" ? standard : name; }

void Print(std::u16string_view text) { WriteLine(std::cout, Utf16ToUtf8(text)); }

// Text the object will convert to its code page: say what does not survive.
void WarnIfReplaced(std::u16string_view text, std::string_view what, bool secret = false) {
    if (const auto warning = ReplacementWarning(text, what, secret)) std::cerr << "kestrune: " << *warning << '\n';
}

// A failed call as a script would see it: status, description, source.
int Report(const TFailure& failure) {
    std::cerr << "kestrune: " << HResultText(failure.hresult) << ": " << failure.description << " (source: " << failure.source
              << ")\n";
    return ExitFailure;
}

// The age passphrase of upgrade and age-decrypt: its own options only, so
// that the legacy password (and KESTRUNE_PASSWORD) never becomes it by accident.
struct TPassphraseArgs {
    std::string file, variable;
    bool prompt = false;
};

void AddPassphraseOptions(CLI::App& command, TPassphraseArgs& args, const char* promptHelp) {
    auto* prompt = command.add_flag("-p,--passphrase", args.prompt, promptHelp);
    auto* file = command.add_option("--passphrase-file", args.file, "Read the age passphrase from the first line of PATH")
                     ->type_name("PATH");
    auto* variable =
        command.add_option("--passphrase-env", args.variable, "Read the age passphrase from the environment variable NAME")
            ->type_name("NAME");
    prompt->excludes(file)->excludes(variable);
    file->excludes(variable);
}

std::optional<TSecretString> PassphraseFrom(const CLI::App& command, const TPassphraseArgs& args, bool confirm) {
    std::optional<TSecretText> passphrase;
    if (command.count("--passphrase-file") > 0) {
        passphrase = ReadPasswordFile(args.file);
    } else if (command.count("--passphrase-env") > 0) {
        passphrase = PasswordFromEnvironment(args.variable);
    } else if (args.prompt) {
        passphrase = PromptPassword("age passphrase: ");
        if (!passphrase) throw EPasswordSource("no terminal to ask the passphrase on: use --passphrase-file or --passphrase-env");
        if (confirm) {
            const auto again = PromptPassword("Repeat age passphrase: ");
            if (!again || again->View() != passphrase->View()) throw EPasswordSource("the passphrases do not match");
        }
    } else {
        return std::nullopt;
    }
    if (passphrase->View().empty()) throw EPasswordSource("the age passphrase is empty");
    std::string utf8 = Utf16ToUtf8(passphrase->View());
    TSecretString secret(utf8.begin(), utf8.end());
    WipeString(utf8);
    return secret;
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

int IdentifyUsage(const std::string& message) {
    std::cerr << "kestrune identify: " << message << "\nRun with --help for more information.\n";
    return ExitUsage;
}

// kestrune identify: a digest text, a stored string or a stored file.
int RunIdentify(const CLI::App& command, const std::string& value, const std::string& file, const std::string& digest,
                const std::string& passwordList, TPasswordArgs& password, const TIdentifyOptions& options, bool json) {
    const bool hasValue = command.count("value") > 0, hasFile = command.count("--file") > 0;
    if (hasValue == hasFile) return IdentifyUsage("give either a VALUE or --file PATH");
    if (command.count("--digest") > 0) {
        std::vector<std::int32_t> codes;
        try {
            codes = hasFile ? IdentifyFileDigest(digest, FileName(file)) : IdentifyTextDigest(digest, InputText(value, std::cin));
        } catch (const std::invalid_argument& e) {
            return IdentifyUsage(e.what());
        }
        if (json) WriteLine(std::cout, DigestJson(codes));
        else
            for (std::int32_t code : codes) WriteLine(std::cout, std::string(DigestName(code)));
        if (codes.empty()) std::cerr << "kestrune: no digest of the catalogue gives that digest text\n";
        return codes.empty() ? ExitFailure : ExitSuccess;
    }
    std::vector<TSecretText> passwords;
    const bool listed = command.count("--passwords") > 0;
    if (listed) {
        passwords = ReadPasswordList(passwordList);
    } else {
        passwords.push_back(PasswordFrom(command, password, false));
        WarnIfReplaced(passwords.front().View(), "the password", true);
    }
    TIdentifyResult result;
    if (hasFile) {
        const auto start = ReadFileStart(FileName(file));
        if (start.empty()) throw EFailure("'" + file + "' is empty: there is nothing to identify");
        result = IdentifyFileStart(start, passwords, options);
    } else {
        const auto input = InputText(value, std::cin);
        if (input.empty()) throw EFailure("the value is empty: there is nothing to identify");
        if (const auto problem = Base64Problem(input))
            throw EFailure("the value is not Base64 as encrypt-string writes it: " + *problem);
        result = IdentifyText(input, passwords, options);
    }
    if (json)
        WriteLine(std::cout, IdentifyJson(result, hasFile, listed));
    else if (!result.candidates.empty())
        WriteCandidates(std::cout, result, hasFile, listed);
    if (result.candidates.empty())
        std::cerr << "kestrune: none of the " << result.tried << " settings tried gives a plausible "
                  << (hasFile ? "file" : "text") << "\n";
    return result.candidates.empty() ? ExitFailure : ExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    ForbidCoreDumps();
    CLI::App app("Hashing, encryption and password generation with the Kestrune crypto object.", "kestrune");
    app.failure_message(UsageMessage);
    app.require_subcommand(1);
    app.formatter(HelpFormatter());
    app.footer(ToolFooter());
    app.set_version_flag("--version", VersionLine(), "Print the version and the commit it was built from, and exit");

    std::string text, source, dest;
    bool lenient = false;
    TSelectionArgs selection;
    TPasswordArgs password;

    auto& hashString = *app.add_subcommand("hash-string", "Print the digest of a text");
    hashString.add_option("text", text, "The text, or - to read standard input")->required();
    AddDigestOption(hashString, selection.hash, "Digest: a name or code from 'kestrune list'");

    std::vector<std::string> files;
    std::string format, checkList;
    bool tagFormat = false, forceProgress = false, quiet = false;
    TCheckOptions check;
    auto& hashFile = *app.add_subcommand("hash-file", "Print the digests of files' bytes, or check a list of digests");
    auto* filesOption = hashFile.add_option("file", files, "The files, - for standard input")->type_name("FILE");
    AddDigestOption(hashFile, selection.hash, "Digest: a name or code from 'kestrune list'");
    AddSumOptions(hashFile, *filesOption, format, tagFormat, checkList, check);
    AddProgressOptions(hashFile, forceProgress, quiet, "No progress display; with --check, no OK lines either");

    auto& encryptString = *app.add_subcommand("encrypt-string", "Encrypt a text; print it as Base64");
    encryptString.add_option("text", text, "The text, or - to read standard input")->required();
    AddCipherOptions(encryptString, selection, password, false);

    auto& decryptString = *app.add_subcommand("decrypt-string", "Decrypt Base64 text from encrypt-string");
    decryptString.add_option("text", text, "The Base64 text, or - to read standard input")->required();
    decryptString.add_flag("--lenient", lenient,
                           "Decode text that is not canonical Base64 as the object does, instead of refusing it");
    AddCipherOptions(decryptString, selection, password, false);

    auto& encryptFile = *app.add_subcommand("encrypt-file", "Encrypt a file into another (same length, no header)");
    encryptFile.add_option("source", source, "The file to encrypt, or - to read standard input")->required();
    encryptFile.add_option("dest", dest, "The encrypted file to write (replaced if it exists), or - for standard output")->required();
    AddCipherOptions(encryptFile, selection, password, true);
    AddProgressOptions(encryptFile, forceProgress, quiet, "No progress display");

    auto& decryptFile = *app.add_subcommand("decrypt-file", "Decrypt a file from encrypt-file into another");
    decryptFile.add_option("source", source, "The encrypted file, or - to read standard input")->required();
    decryptFile.add_option("dest", dest, "The file to write (replaced if it exists), or - for standard output")->required();
    AddCipherOptions(decryptFile, selection, password, true);
    AddProgressOptions(decryptFile, forceProgress, quiet, "No progress display");

    std::string upgradeText, upgradeBatch;
    std::vector<std::string> recipientKeys, recipientFiles;
    bool armor = false;
    int workFactor = age::DefaultWorkFactor;
    TPassphraseArgs passphraseArgs;
    auto& upgrade = *app.add_subcommand(
        "upgrade", "Re-encrypt a legacy file or string into the age format (see its --help)");
    auto* upgradeSource = upgrade.add_option("source", source, "The legacy encrypted file, or - to read standard input")
                              ->type_name("SOURCE");
    auto* upgradeDest = upgrade.add_option("dest", dest, "The age file to write (replaced if it exists), or - for standard output")
                            ->type_name("DEST");
    auto* upgradeTextOption =
        upgrade.add_option("--text", upgradeText,
                           "Upgrade one string: the Base64 text from encrypt-string (or - to read standard input); "
                           "prints it as age armor")
            ->type_name("BASE64");
    auto* upgradeBatchOption =
        upgrade.add_option("--batch", upgradeBatch,
                           "Upgrade the values and files of JSON Lines requests in FILE (- for standard input), "
                           "one answer line each (see --help)")
            ->type_name("FILE");
    upgradeTextOption->excludes(upgradeSource)->excludes(upgradeDest)->excludes(upgradeBatchOption);
    upgradeBatchOption->excludes(upgradeSource)->excludes(upgradeDest);
    upgradeSource->needs(upgradeDest);
    AddCipherOptions(upgrade, selection, password, true);
    upgrade.add_option("-r,--recipient", recipientKeys, "Encrypt to this age public key (age1...; repeatable)")
        ->type_name("RECIPIENT")
        ->check(CLI::Validator(
            [](std::string& key) {
                try {
                    age::ParseRecipient(key);
                    return std::string();
                } catch (const age::EAge& e) {
                    return std::string(e.what());
                }
            },
            "", ""));
    upgrade.add_option("-R,--recipients-file", recipientFiles,
                       "Encrypt to the age public keys listed in PATH, one per line (repeatable)")
        ->type_name("PATH");
    AddPassphraseOptions(upgrade, passphraseArgs, "Encrypt to a passphrase asked on the terminal (twice)");
    upgrade.add_option("--work-factor", workFactor, "scrypt work factor of the passphrase: log2 of N, 10 to 22")
        ->type_name("N")
        ->capture_default_str()
        ->check(CLI::Range(10, 22));
    upgrade.add_flag("-a,--armor", armor, "Write a file as PEM-style text armor (strings always are)");
    upgrade.add_flag("--lenient", lenient, "Decode string values that are not canonical Base64 as the object does");

    std::vector<std::string> identityFiles;
    int maxWorkFactor = age::MaxWorkFactor;
    auto& ageDecrypt = *app.add_subcommand("age-decrypt", "Decrypt an age file (binary or armored) into another");
    ageDecrypt.add_option("source", source, "The age file, or - to read standard input")->required();
    ageDecrypt.add_option("dest", dest, "The file to write (replaced if it exists), or - for standard output")->required();
    ageDecrypt.add_option("-i,--identity", identityFiles, "Decrypt with the age secret keys in PATH (repeatable)")
        ->type_name("PATH");
    AddPassphraseOptions(ageDecrypt, passphraseArgs, "Decrypt with a passphrase asked on the terminal");
    ageDecrypt.add_option("--max-work-factor", maxWorkFactor, "Refuse passphrase files whose scrypt work factor is above N")
        ->type_name("N")
        ->capture_default_str()
        ->check(CLI::Range(1, 30));

    std::int32_t length = 8, count = 1;
    std::string style;
    auto& genPassword = *app.add_subcommand("gen-password", "Print generated passwords (predictable: see its --help)");
    genPassword.add_option("-n,--length", length, "Characters per password")->capture_default_str();
    genPassword.add_option(
        "-s,--style", style,
        "Pattern: ? letter or digit, 0 digit, A upper-case letter, a lower-case letter, anything else itself; "
        "positions past its end are ?");
    genPassword.add_option("-c,--count", count, "How many passwords")->capture_default_str()->check(CountRange());

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

    std::string fileToIdentify, digestText, passwordList;
    TIdentifyOptions identifyOptions;
    bool identifyJson = false;
    auto& identify = *app.add_subcommand(
        "identify", "Find the cipher, digest and mode of a stored value or file, or the digest of a digest text");
    identify.add_option("value", text, "The Base64 text (with --digest: the text digested), or - to read standard input");
    auto* identifyFile = identify.add_option("--file", fileToIdentify, "Identify the encrypted file PATH (- for standard input)")
                             ->type_name("PATH");
    auto* digestOption = identify.add_option("--digest", digestText, "Name the digest that gives the hexadecimal HEX for the text or --file")
                             ->type_name("HEX");
    AddPasswordOptions(identify, password);
    identify.add_option("--passwords", passwordList, "Try every password of FILE, one per line")
                           ->type_name("FILE")
                           ->excludes("--password")
                           ->excludes("--password-file")
                           ->excludes("--password-env")
                           ->excludes(digestOption);
    identify.add_option("--known-prefix", identifyOptions.knownPrefix,
                                             "Only settings whose plaintext starts with TEXT (a file's first bytes)")
                             ->type_name("TEXT")
                             ->excludes(digestOption);
    identify.add_option("--known-type", identifyOptions.knownType,
                        "With --file: only settings whose plaintext libmagic recognises as TYPE (image/png, png, PDF, ...)")
        ->type_name("TYPE")
        ->needs(identifyFile)
        ->excludes(digestOption);
    identify.add_option("--top", identifyOptions.top, "Show the N best candidates; 0 for all")
        ->type_name("N")
        ->capture_default_str()
        ->check(CountRange())
        ->excludes(digestOption);
    identify.add_flag("--json", identifyJson, "Print the answer as one JSON object");

    auto& registerServer = *app.add_subcommand(
        "register", "Register the automation server brindel_Kestrune (its class and type library entries)");
    auto& unregisterServer = *app.add_subcommand("unregister", "Remove the automation server's registration");

    std::vector<std::string> helpWords;
    bool helpAll = false;
    auto& help = *app.add_subcommand("help", "Print the help of the tool or of one command");
    help.add_option("command", helpWords, "The command whose help to print")->type_name("COMMAND");
    help.add_flag("--all", helpAll, "Print the help of the tool and then that of every command");

    // The code page of the site whose data this is: every text, password and
    // style becomes bytes in it, as the object did on that site's Windows.
    std::string codePage;
    for (CLI::App* command : app.get_subcommands([&](CLI::App* c) { return c != &help; }))
        command->add_option("--codepage", codePage,
                            "ANSI code page that text becomes bytes in (874, 932, 936, 949, 950, 1250 to 1258); "
                            "default 1252, or KESTRUNE_CODEPAGE")
            ->type_name("N")
            ->check(CLI::Validator(
                [](std::string& value) {
                    try {
                        ParseCodePage(value);
                        return std::string();
                    } catch (const std::invalid_argument& e) {
                        return std::string(e.what());
                    }
                },
                "", ""));
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) command->footer(CommandFooter(command->get_name()));

    const std::array<CLI::App*, 6> cipherCommands = {&encryptString, &decryptString, &encryptFile, &decryptFile, &upgrade, &identify};
    if (const auto unknown = UnknownCommand(app, argc, argv)) {
        std::cerr << *unknown;
        return ExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        WipePasswordArguments(argc, argv, cipherCommands);
        return FinishOutput(app.exit(e) == 0 ? ExitSuccess : ExitUsage);
    }
    WipePasswordArguments(argc, argv, cipherCommands);

    try {
        if (!codePage.empty()) {
            SetAnsiCodePage(ParseCodePage(codePage));
            // batch and call reach the object through the automation library,
            // whose own conversion layer reads the variable on first use.
            if (::setenv("KESTRUNE_CODEPAGE", codePage.c_str(), 1) != 0) throw EFailure("cannot set KESTRUNE_CODEPAGE");
        }
        // A KESTRUNE_CODEPAGE that names no supported page stops the commands
        // that convert text before they start.
        if (hashString || encryptString || decryptString || encryptFile || decryptFile || genPassword || batch || call)
            AnsiCodePage();
        if (hashString) {
            const TKestrune object = ObjectFor(selection);
            const auto input = InputText(text, std::cin);
            WarnIfReplaced(input, "the text");
            const auto digest = object.HashString(input);
            if (digest.empty()) throw EFailure("hashing failed");
            Print(digest);
        } else if (hashFile) {
            const auto progress = ProgressModeFor(forceProgress, quiet);
            const std::int32_t digest = *ParseDigest(selection.hash);
            if (hashFile.count("--check") > 0) {
                check.digest = digest;
                check.digestChosen = hashFile.count("--hash") > 0;
                check.quiet = quiet;
                // Nothing but the exit status, unless the bar is asked for.
                check.progress = check.status && !forceProgress ? TProgressMode::Off : progress;
                return CheckSums(checkList, std::cin, check, std::cout, std::cerr) == 0 ? 0 : ExitFailure;
            }
            if (files.empty()) {
                std::cerr << "kestrune hash-file: a FILE or --check LIST is required\nRun with --help for more information.\n";
                return ExitUsage;
            }
            const auto chosen = tagFormat ? std::optional(TSumFormat::Tag) : ParseSumFormat(format);
            const auto output = chosen.value_or(files.size() == 1 ? TSumFormat::Hex : TSumFormat::Sum);
            return HashFiles(files, digest, output, progress, std::cout, std::cerr) == 0 ? 0 : ExitFailure;
        } else if (encryptString || decryptString) {
            const bool encrypt = encryptString.parsed();
            const TKestrune object = ObjectFor(selection);
            const auto input = InputText(text, std::cin);
            if (encrypt) {
                WarnIfReplaced(input, "the text");
            } else if (const auto problem = lenient ? std::nullopt : Base64Problem(input)) {
                throw EFailure("the text to decrypt is not Base64 as encrypt-string writes it: " + *problem +
                               "; --lenient decodes it as the object does");
            }
            const TSecretText key = PasswordFrom(encrypt ? encryptString : decryptString, password, encrypt);
            WarnIfReplaced(key.View(), "the password", true);
            const auto result = encrypt ? object.EncryptString(input, key.View()) : object.DecryptString(input, key.View());
            if (encrypt ? EncryptionFailed(input, result) : DecryptionFailed(input, result))
                throw EFailure(encrypt ? "encryption failed" : "decryption failed");
            Print(result);
        } else if (encryptFile || decryptFile) {
            const bool encrypt = encryptFile.parsed();
            const TKestrune object = ObjectFor(selection);
            const std::string from = FileName(source), to = FileName(dest);
            const TSecretText key = PasswordFrom(encrypt ? encryptFile : decryptFile, password, encrypt);
            WarnIfReplaced(key.View(), "the password", true);
            RemoveTemporaryFilesOnSignals();
            const std::string failed = encrypt ? "encryption failed: " : "decryption failed: ";
            const auto [input, inputStatus] = OpenSource(from);
            if (!input) throw EFailure(failed + FileFailureReason(inputStatus, from, to));
            const auto [output, outputStatus] = CreateDestination(to, *input);
            if (!output) throw EFailure(failed + FileFailureReason(outputStatus, from, to));
            TProgress progress(ProgressModeFor(forceProgress, quiet), Subject(from, "standard input"), *input);
            const FileStatus status = encrypt ? object.EncryptSource(*input, *output, key.View())
                                              : object.DecryptSource(*input, *output, key.View());
            progress.Finish();
            if (!status.Ok()) throw EFailure(failed + FileFailureReason(status, from, to));
        } else if (upgrade) {
            if (upgrade.count("--text") == 0 && upgrade.count("--batch") == 0 && upgrade.count("source") == 0) {
                std::cerr << "kestrune upgrade: SOURCE DEST, --text or --batch is required\nRun with --help for more information.\n";
                return ExitUsage;
            }
            const TLegacySettings settings{*ParseCipher(selection.cipher), *ParseDigest(selection.hash),
                                           *ParseMode(selection.mode)};
            age::TRecipients recipients;
            for (const auto& key : recipientKeys) recipients.keys.push_back(age::ParseRecipient(key));
            for (const auto& file : recipientFiles) {
                const auto keys = age::ReadRecipientsFile(FileName(file));
                recipients.keys.insert(recipients.keys.end(), keys.begin(), keys.end());
            }
            recipients.passphrase = PassphraseFrom(upgrade, passphraseArgs, true);
            recipients.workFactor = workFactor;
            if (recipients.keys.empty() && !recipients.passphrase)
                throw EFailure("upgrade: no age recipient: give -r, -R or a passphrase (-p, --passphrase-file, --passphrase-env)");
            if (!recipients.keys.empty() && recipients.passphrase)
                throw EFailure("upgrade: a passphrase must be an age file's only recipient: give either keys or a passphrase");
            const TSecretText key = PasswordFrom(upgrade, password, false);
            WarnIfReplaced(key.View(), "the legacy password", true);
            if (recipients.passphrase) {
                std::string legacy = Utf16ToUtf8(key.View());
                if (std::string_view(legacy) == std::string_view(*recipients.passphrase))
                    std::cerr << "kestrune: warning: the age passphrase is the legacy password\n";
                WipeString(legacy);
            }
            if (upgrade.count("--text") > 0) {
                const auto input = InputText(upgradeText, std::cin);
                std::string armored = UpgradeString(settings, input, key.View(), recipients, lenient);
                armored.pop_back();  // WriteLine ends it
                WriteLine(std::cout, armored);
            } else if (upgrade.count("--batch") > 0) {
                std::ios::sync_with_stdio(false);
                RemoveTemporaryFilesOnSignals();
                const auto input = OpenTextInput(FileName(upgradeBatch), std::cin);
                return FinishOutput(RunUpgradeBatch(*input, std::cout, settings, key.View(), recipients, armor, lenient) == 0
                                        ? ExitSuccess
                                        : ExitFailure);
            } else {
                const std::string from = FileName(source), to = FileName(dest);
                RemoveTemporaryFilesOnSignals();
                const auto [input, inputStatus] = OpenSource(from);
                if (!input) throw EFailure("upgrade failed: " + FileFailureReason(inputStatus, from, to));
                const auto [output, outputStatus] = CreateDestination(to, *input);
                if (!output) throw EFailure("upgrade failed: " + FileFailureReason(outputStatus, from, to));
                const FileStatus status = UpgradeFile(settings, *input, *output, key.View(), recipients, armor);
                if (!status.Ok()) throw EFailure("upgrade failed: " + FileFailureReason(status, from, to));
            }
        } else if (ageDecrypt) {
            age::TIdentities identities;
            for (const auto& file : identityFiles) {
                auto keys = age::ReadIdentityFile(FileName(file));
                for (auto& k : keys) identities.keys.push_back(k);
            }
            identities.passphrase = PassphraseFrom(ageDecrypt, passphraseArgs, false);
            identities.maxWorkFactor = maxWorkFactor;
            if (identities.keys.empty() && !identities.passphrase)
                throw EFailure("age-decrypt: give an identity file (-i) or a passphrase (-p, --passphrase-file, --passphrase-env)");
            const std::string from = FileName(source), to = FileName(dest);
            RemoveTemporaryFilesOnSignals();
            const auto [input, inputStatus] = OpenSource(from);
            if (!input) throw EFailure("age-decrypt failed: " + FileFailureReason(inputStatus, from, to));
            const auto [output, outputStatus] = CreateDestination(to, *input);
            if (!output) throw EFailure("age-decrypt failed: " + FileFailureReason(outputStatus, from, to));
            try {
                AgeDecryptFile(*input, *output, from, to, identities);
            } catch (const std::runtime_error& e) {
                throw EFailure(std::string("age-decrypt failed: ") + e.what());
            }
        } else if (identify) {
            return FinishOutput(RunIdentify(identify, text, fileToIdentify, digestText, passwordList, password,
                                            identifyOptions, identifyJson));
        } else if (genPassword) {
            const TKestrune object;
            const auto pattern = Utf8ToUtf16(style);
            WarnIfReplaced(pattern, "the style");
            for (std::int32_t i = 0; i < count; ++i) Print(object.GenPassword(length, pattern));
        } else if (list) {
            if (listJson)
                WriteCatalogueJson(std::cout);
            else
                WriteCatalogue(std::cout);
            return FinishOutput(ExitSuccess);
        } else if (selfTest) {
            return FinishOutput(RunSelfTest(std::cout));
        } else if (batch) {
            // Buffered standard streams: the lines are read in pieces, not a character at a time.
            // This replaces std::cin's buffer, so it comes before anything takes that buffer.
            std::ios::sync_with_stdio(false);
            const auto input = OpenTextInput(FileName(requests), std::cin);
            TScriptHost host(std::string{BatchSource});
            if (const auto& failure = host.CreationFailure()) return Report(*failure);
            return FinishOutput(RunBatch(*input, std::cout, host) == 0 ? ExitSuccess : ExitFailure);
        } else if (registerServer || unregisterServer) {
            const HRESULT hr = registerServer ? DllRegisterServer() : DllUnregisterServer();
            if (FAILED(hr))
                throw EFailure(std::string(registerServer ? "registration" : "unregistration") + " failed with " +
                               HResultText(hr) + ": the registry store could not be read or written");
        } else if (help) {
            return FinishOutput(PrintHelp(app, helpWords, helpAll, std::cout, std::cerr));
        } else if (call) {
            if (call.remaining().empty()) {
                std::cerr << "kestrune: call: a MEMBER is required\nRun with --help for more information.\n";
                return ExitUsage;
            }
            return FinishOutput(RunCall(puts, call.remaining()));
        }
    } catch (const std::exception& e) {
        std::cerr << "kestrune: " << e.what() << '\n';
        return ExitFailure;
    }
    return FinishOutput(ExitSuccess);
}
