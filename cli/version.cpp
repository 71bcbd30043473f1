#include "version.h"

// Generated at every build; it changes only when the commit does, so that
// nothing else is rebuilt for it.
#include "kestrune_version.h"

namespace kestrune::cli {

std::string_view ToolVersion() noexcept { return KESTRUNE_VERSION; }
std::string_view BuildCommit() noexcept { return KESTRUNE_COMMIT; }
std::string VersionLine() { return "kestrune " + std::string(ToolVersion()) + " (" + std::string(BuildCommit()) + ")"; }

}  // namespace kestrune::cli
