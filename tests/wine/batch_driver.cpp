// kestrune_batch_driver: `kestrune batch` on Windows. It answers JSON Lines
// on standard input with the tool's own batch code, driving
// brindel_Kestrune.dll through DllGetClassObject and IDispatch, so that its
// output can be compared byte for byte with the Linux tool's.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "automation/KCole.h"
#include "cli/batch.h"
#include "cli/host.h"

namespace {

// A script host runs in an initialised apartment; so does this one.
class TComApartment {
public:
    TComApartment() noexcept : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~TComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;
    HRESULT Status() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace

int main() {
    using namespace kestrune::cli;
    // Bytes in and out as they are: text mode would turn "\n" into CR LF on
    // output and drop CRs from the requests.
    if (_setmode(_fileno(stdin), _O_BINARY) == -1 || _setmode(_fileno(stdout), _O_BINARY) == -1) {
        std::cerr << "kestrune_batch_driver: cannot switch standard input and output to binary mode\n";
        return 1;
    }
    const TComApartment apartment;
    if (FAILED(apartment.Status())) {
        std::cerr << "kestrune_batch_driver: CoInitializeEx failed with " << HResultText(apartment.Status()) << '\n';
        return 1;
    }
    // As cli/main.cpp runs batch mode.
    TScriptHost host(std::string{BatchSource});
    if (const auto& failure = host.CreationFailure()) {
        std::cerr << "kestrune: " << HResultText(failure->hresult) << ": " << failure->description
                  << " (source: " << failure->source << ")\n";
        return 1;
    }
    return RunBatch(std::cin, std::cout, host) == 0 ? 0 : 1;
}
