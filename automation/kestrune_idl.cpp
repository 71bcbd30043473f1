// kestrune_idl: prints the type library's source, brindel_Kestrune.idl,
// from the member table.
#include <iostream>

#include "automation/KCidl.h"

int main() {
    kestrune::automation::WriteIdl(std::cout);
    return std::cout.flush() ? 0 : 1;
}
