// The type library's source in the platform's interface definition
// language, written from the member table, so that the type library built
// from it on the platform cannot drift from the table.
#pragma once

#include <iosfwd>

namespace kestrune::automation {

void WriteIdl(std::ostream& out);

}  // namespace kestrune::automation
