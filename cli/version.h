// What `kestrune --version` prints: "kestrune 1.1.0 (abc1234)", the
// project's version and the commit the tool was built from, as
// `git describe --always --dirty` named it at build time ("unknown" when the
// sources are not a git checkout).
#pragma once

#include <string>
#include <string_view>

namespace kestrune::cli {

std::string_view ToolVersion() noexcept;
std::string_view BuildCommit() noexcept;
std::string VersionLine();

}  // namespace kestrune::cli
