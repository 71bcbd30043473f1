// The help pages: the prose under each page's options, with an example for
// every command, and the `kestrune help` command that prints them. The man
// page is made from `kestrune help --all`.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class FormatterBase;
}

namespace kestrune::cli {

// The formatter of every page; commands take it from the tool's.
std::shared_ptr<CLI::FormatterBase> HelpFormatter();

// The footer of the top-level page.
std::string ToolFooter();

// The footer of a command's page: what its options do not say, then an
// example; the password sources on the commands that take a password.
// Empty for a command it does not know.
std::string CommandFooter(std::string_view command);

// kestrune help [COMMAND]: the top-level page, or the page of COMMAND;
// with all set, the top-level page and then every command's page, each
// under a heading of its own. 0, or 2 with a message on err for a command
// that does not exist.
int PrintHelp(const CLI::App& app, const std::vector<std::string>& commands, bool all, std::ostream& out,
              std::ostream& err);

}  // namespace kestrune::cli
