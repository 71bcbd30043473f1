#include "help.h"

#include <memory>
#include <ostream>
#include <utility>

#include <CLI/CLI.hpp>

#include "password_source.h"

namespace kestrune::cli {
namespace {

std::string PasswordNote() {
    return std::string("The password comes from --password-file, --password-env, the variable ") + DefaultPasswordVariable +
           " or else a\n"
           "prompt on the terminal (asked twice when encrypting). Decrypting needs the same cipher, digest and password.\n";
}

// Each command's note and example; outputs are what the tool prints.
const std::pair<std::string_view, std::string_view> Footers[] = {
    {"hash-string",
     "Digests are upper-case hexadecimal. A text of - is standard input, less one trailing line break.\n"
     "Example:\n"
     "  $ kestrune hash-string \"The quick brown fox\" --hash MD4\n"
     "  D4559D26C7203EC400E382FD1C8A6092\n"},
    {"hash-file",
     "Example:\n"
     "  $ printf 'The quick brown fox' > fox.txt\n"
     "  $ kestrune hash-file fox.txt\n"
     "  A2004F37730B9445670A738FA0FC9EE5\n"},
    {"encrypt-string",
     "Text is converted to Windows-1252 (or --codepage) for the cipher, as the object does; block ciphers always use cfb8 for\n"
     "strings.\n"
     "Example:\n"
     "  $ export KESTRUNE_PASSWORD=\"correct horse battery staple\"\n"
     "  $ kestrune encrypt-string \"Grüße aus Köln\"\n"
     "  md1FyqOWeqAKWdqJ+zk=\n"},
    {"decrypt-string",
     "A wrong password, cipher or digest gives other text, not an error.\n"
     "Example:\n"
     "  $ export KESTRUNE_PASSWORD=\"correct horse battery staple\"\n"
     "  $ kestrune decrypt-string md1FyqOWeqAKWdqJ+zk=\n"
     "  Grüße aus Köln\n"},
    {"encrypt-file",
     "The encrypted file is exactly as long as the source, with no header: decrypting needs the same cipher, digest,\n"
     "mode and password. An existing destination is replaced only when the whole operation has succeeded.\n"
     "Example:\n"
     "  $ kestrune encrypt-file numbers.txt numbers.enc --cipher Rijndael --mode ctr\n"},
    {"decrypt-file",
     "A wrong password, cipher, digest or mode gives other bytes, not an error.\n"
     "Example:\n"
     "  $ kestrune decrypt-file numbers.enc numbers.out --cipher Rijndael --mode ctr\n"},
    {"upgrade",
     "Moves data out of the legacy scheme into the age format (age-encryption.org/v1), which the age tool and its\n"
     "libraries read. The legacy value is decrypted with --cipher, --hash, --mode and the password above, and\n"
     "encrypted at once to the age recipients: public keys (-r age1..., -R FILE, from age-keygen), or else one\n"
     "passphrase (-p asks on the terminal, --passphrase-file, --passphrase-env; never the legacy password's\n"
     "sources). Give SOURCE DEST for a file (streamed; DEST is replaced only when all went well), --text for one\n"
     "string (printed as age armor; its plaintext is stored as UTF-8), or --batch for JSON Lines requests:\n"
     "  {\"id\": 1, \"value\": \"<Base64>\"}  ->  {\"id\": 1, \"result\": \"-----BEGIN AGE ENCRYPTED FILE-----\\n...\"}\n"
     "  {\"id\": 2, \"source\": \"a.enc\", \"dest\": \"a.age\"}  ->  {\"id\": 2, \"result\": \"a.age\"}\n"
     "  a failure  ->  {\"id\": 1, \"error\": \"why\"}\n"
     "A request may name its own \"cipher\", \"hash\" and \"mode\". Every request gets one answer line, with the\n"
     "armor's line breaks escaped as JSON escapes them; the exit status is 1 when any failed. A legacy value\n"
     "that decrypts with the wrong settings is not detected: check the results with 'age -d' or age-decrypt.\n"
     "Example:\n"
     "  $ age-keygen -o key.txt\n"
     "  Public key: age174wudtj5zpq8a8xp3xw0k6gq692lq0z80mlrx2gp44jxyz90a93q4754qr\n"
     "  $ kestrune upgrade numbers.enc numbers.age --cipher Rijndael --mode ctr -R <(age-keygen -y key.txt)\n"
     "  $ age -d -i key.txt numbers.age | head -2\n"
     "  1\n"
     "  2\n"},
    {"age-decrypt",
     "Reads a binary or armored age file with the secret keys of -i files (as age-keygen writes them) or a\n"
     "passphrase. A damaged, truncated or tampered file is refused with the reason and exit status 1; DEST is\n"
     "then left as it was. Standard output gets nothing either, for plaintexts up to 64 MiB: they are held\n"
     "until the last chunk has authenticated. A larger one is written chunk by chunk, each only after it has\n"
     "authenticated, and a failure then says how many bytes of it went out.\n"
     "Example:\n"
     "  $ kestrune age-decrypt -i key.txt numbers.age numbers.txt\n"},
    {"identify",
     "Every cipher and digest (and mode, for a file) is tried with each password, on every core, and the\n"
     "candidates are ranked by score: bits of evidence that the plaintext is not the noise of a wrong key.\n"
     "Text counts by how much of it is letters, digits and spaces in the object's code page, and must encrypt\n"
     "back to the value; a file by the type libmagic recognises in its first 4 KiB and the structure there.\n"
     "A short value or a compressed file gives little evidence: --known-prefix or --known-type then make the\n"
     "answer exact. The password comes from --passwords (one per line, reported by line number),\n"
     "--password-file, --password-env, the variable KESTRUNE_PASSWORD or a prompt. With --digest, HEX is\n"
     "a digest text as hash-string writes it (either case); every digest that gives it is printed.\n"
     "Exit status: 0 a plausible candidate was found, 1 none was, 2 wrong usage.\n"
     "Example:\n"
     "  $ export KESTRUNE_PASSWORD=\"correct horse battery staple\"\n"
     "  $ kestrune identify EN2i7nX/sZLa3GZR3iaVGnBUY0/4mXwdD0JDJM2/dR6Uon8=\n"
     "  rank  score  cipher   hash     printable  preview\n"
     "     1     61  Twofish  SHA-512  100%       Order 1017 shipped to Mrs. Hoffmann\n"},
    {"gen-password",
     "The generator starts from the same state in every process, as the object's does, so every run prints the same\n"
     "sequence: these passwords are predictable and must not protect anything.\n"
     "Example:\n"
     "  $ kestrune gen-password --length 10 --style \"Aaaa-0000?\"\n"
     "  Aawf-26314\n"},
    {"list",
     "Codes that are not listed select the last row of their table, as in the object. --json gives the same\n"
     "catalogue as one JSON object, for programs.\n"
     "Example:\n"
     "  $ kestrune list | grep Rijndael\n"
     "    15  Rijndael    TKC_rijndael  Rijndael      128      256   9\n"},
    {"selftest",
     "Exits with status 1 when any self-test fails.\n"
     "Example:\n"
     "  $ kestrune selftest | tail -1\n"
     "  30 passed, 0 failed, 0 not built\n"},
    {"batch",
     "Each line is a request and gets one answer line, in order. Requests are {\"call\": MEMBER, \"args\": [...],\n"
     "\"named\": {PARAMETER: ...}}, {\"get\": PROPERTY} and {\"put\": PROPERTY, \"value\": ...}; an optional \"id\" (any\n"
     "JSON value) comes back first in the request's answer, errors included. Answers are {\"result\": ...} (a string,\n"
     "an integer or null) or {\"error\": {\"hresult\": \"0x...\", \"description\": ..., \"source\": ...}}.\n"
     "Methods: OnStartPage, OnEndPage, HashString, HashFile, EncryptString, EncryptFile, DecryptString,\n"
     "DecryptFile, GenPassword, HashSize. Properties: HashAlgorithm, CipherAlgorithm, CipherMode, MaxKeySize\n"
     "(read-only). The object is created through the library's class factory and every request goes through\n"
     "its dispatch interface by name, as a script's calls do. Names ignore case. Strings pass as strings,\n"
     "integers as longs, other numbers as doubles, true and false as booleans; the object converts them to\n"
     "the declared types (\"7\" becomes 7). Trailing optional arguments may be left out, and null in the\n"
     "place of an optional argument stands for its default. OnStartPage takes a string or an object as a\n"
     "host context that offers the scripting context, or null for one that does not (the call then fails).\n"
     "Failures of the object's own work are results, not errors: \"\" for the string members, -1 for the\n"
     "file members. Blank lines get no answer. The object lives for the whole run.\n"
     "{\"identify\": VALUE or {\"file\": PATH}, \"password\": ... or \"passwords\": [...]} (optional \"known_prefix\",\n"
     "\"known_type\", \"top\") and {\"identify\": TEXT or {\"file\": PATH}, \"digest\": HEX} answer with what\n"
     "identify --json prints as the result.\n"
     "Example:\n"
     "  $ echo '{\"id\": 1, \"call\": \"HashSize\", \"args\": [6]}' | kestrune batch\n"
     "  {\"id\":1,\"result\":256}\n"},
    {"call",
     "Usage: kestrune call [--put PROPERTY=VALUE]... MEMBER [ARGS]...\n"
     "The object is created through the library's class factory and the member is called through its\n"
     "dispatch interface by name, as a page script calls it: every argument passes as a string and the\n"
     "object converts it to the declared type (\"7\" becomes 7; \"seven\" for a number is a type\n"
     "mismatch). Left-out trailing optional arguments take their defaults. A string result is printed as\n"
     "it is, a number in decimal, nothing for members without a result. A failed call prints its status\n"
     "in hexadecimal, its description and its source on standard error, and exits with status 1.\n"
     "Arguments are visible in the process list: do not pass passwords that matter this way.\n"
     "Example:\n"
     "  $ kestrune call --put CipherAlgorithm=15 MaxKeySize\n"
     "  256\n"},
    {"register",
     "Calls the library's DllRegisterServer. Without the platform's registry the HKEY_CLASSES_ROOT entries\n"
     "live in $KESTRUNE_REGISTRY, or else in $XDG_DATA_HOME/kestrune/HKEY_CLASSES_ROOT.reg (~/.local/share\n"
     "when XDG_DATA_HOME is unset).\n"
     "Example:\n"
     "  $ KESTRUNE_REGISTRY=/tmp/hkcr.reg kestrune register\n"},
    {"unregister",
     "Calls the library's DllUnregisterServer, on the same store as register.\n"
     "Example:\n"
     "  $ KESTRUNE_REGISTRY=/tmp/hkcr.reg kestrune unregister\n"},
    {"help",
     "Example:\n"
     "  $ kestrune help hash-file\n"},
};

// A command's page as its --help prints it.
std::string Page(const CLI::App& command) {
    return command.get_formatter()->make_help(&command, command.get_parent()->get_name() + " " + command.get_name(),
                                              CLI::AppFormatMode::Normal);
}

// CLI11's formatter, less the blank line it puts after the last group shown
// when a hidden option follows it. For the man page (help --all), a
// command's page has no group headings, which help2man would take for
// sections of the whole page, and its example stands apart.
class TFormatter final : public CLI::Formatter {
public:
    explicit TFormatter(bool forManPage = false) : forManPage_(forManPage) {}

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
        if (!forManPage_)
            return make_description(app) + make_usage(app, name) + make_positionals(app) + Groups(app, mode) +
                   make_subcommands(app, mode) + "\n" + make_footer(app);
        std::string footer = make_footer(app);
        if (const auto example = footer.find("Example:\n"); example != std::string::npos) footer.insert(example + 9, "\n");
        return name + ":\n  " + app->get_description() + "\n\n" + make_usage(app, name) + make_positionals(app) +
               Groups(app, mode) + "\n" + footer;
    }
    std::string make_group(std::string group, bool positional, std::vector<const CLI::Option*> options) const override {
        if (!forManPage_) return CLI::Formatter::make_group(std::move(group), positional, std::move(options));
        std::string text;
        for (const CLI::Option* option : options) text += make_option(option, positional);
        return text;
    }

private:
    std::string Groups(const CLI::App* app, CLI::AppFormatMode mode) const {
        std::vector<std::string> shown;
        std::vector<std::vector<const CLI::Option*>> options;
        for (const std::string& group : app->get_groups()) {
            auto inGroup = app->get_options([&](const CLI::Option* option) {
                return option->get_group() == group && option->nonpositional() &&
                       (mode != CLI::AppFormatMode::Sub ||
                        (app->get_help_ptr() != option && app->get_help_all_ptr() != option));
            });
            if (group.empty() || inGroup.empty()) continue;
            shown.push_back(group);
            options.push_back(std::move(inGroup));
        }
        std::string text;
        for (std::size_t i = 0; i < shown.size(); ++i)
            text += make_group(shown[i], false, options[i]) + (i + 1 < shown.size() && !forManPage_ ? "\n" : "");
        return text;
    }

    bool forManPage_;
};

bool UsesPassword(std::string_view command) {
    return command == "encrypt-string" || command == "decrypt-string" || command == "encrypt-file" ||
           command == "decrypt-file" || command == "upgrade";
}

}  // namespace

std::string ToolFooter() {
    // The help formatter ends the footer with a line break of its own.
    return "Run 'kestrune help COMMAND' or 'kestrune COMMAND --help' for a command's options and an example.\n"
           "Exit status: 0 success, 1 the operation failed (the reason is on standard error), 2 wrong usage.\n"
           "Example:\n"
           "  $ kestrune hash-string \"The quick brown fox\" --hash SHA-256\n"
           "  5CAC4F980FEDC3D3F1F99B4BE3472C9B30D56523E632D151237EC9309048BDA9";
}

std::string CommandFooter(std::string_view command) {
    for (const auto& [name, text] : Footers)
        if (name == command) {
            std::string footer = (UsesPassword(command) ? PasswordNote() : std::string()) + std::string(text);
            footer.pop_back();  // the formatter's line break ends it
            return footer;
        }
    return {};
}

std::shared_ptr<CLI::FormatterBase> HelpFormatter() { return std::make_shared<TFormatter>(); }

int PrintHelp(const CLI::App& app, const std::vector<std::string>& commands, bool all, std::ostream& out,
              std::ostream& err) {
    if (commands.size() > 1) {
        err << "kestrune help: name one command at most\nRun with --help for more information.\n";
        return 2;
    }
    if (!commands.empty()) {
        const CLI::App* command = nullptr;
        for (const CLI::App* candidate : app.get_subcommands({}))
            if (candidate->get_name() == commands.front()) command = candidate;
        if (command == nullptr) {
            err << "kestrune help: no command '" << commands.front() << "'; 'kestrune help' lists them\n";
            return 2;
        }
        out << Page(*command);
        return 0;
    }
    // The page of the tool itself: app.help() would give that of the command being run.
    out << app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
    if (all) {
        // One section of the man page, each command under a heading of its own.
        out << "\n*Commands*\n";
        const TFormatter formatter(true);
        for (const CLI::App* command : app.get_subcommands({}))
            out << "\n" << formatter.make_help(command, "kestrune " + command->get_name(), CLI::AppFormatMode::Normal);
    }
    return 0;
}

}  // namespace kestrune::cli
