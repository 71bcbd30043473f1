// kestrune_batch_driver: `kestrune batch` on Windows. It answers JSON Lines
// on standard input with the tool's own batch code, driving
// brindel_Kestrune.dll through DllGetClassObject and IDispatch, so that its
// output can be compared byte for byte with the Linux tool's.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "automation/KCole.h"
#include "cli/batch.h"
#include "cli/host.h"
#include "object/KCcodepage.h"

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

// A locale whose ANSI code page is each supported page, for the thread that
// drives the object, as a page that sets its LCID does.
LCID LocaleFor(unsigned codePage) {
    static constexpr struct {
        unsigned codePage;
        LANGID language;
    } Locales[] = {
        {874, MAKELANGID(LANG_THAI, SUBLANG_DEFAULT)},
        {932, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)},
        {936, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)},
        {949, MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT)},
        {950, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL)},
        {1250, MAKELANGID(LANG_CZECH, SUBLANG_DEFAULT)},
        {1251, MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)},
        {1252, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)},
        {1253, MAKELANGID(LANG_GREEK, SUBLANG_DEFAULT)},
        {1254, MAKELANGID(LANG_TURKISH, SUBLANG_DEFAULT)},
        {1255, MAKELANGID(LANG_HEBREW, SUBLANG_DEFAULT)},
        {1256, MAKELANGID(LANG_ARABIC, SUBLANG_ARABIC_SAUDI_ARABIA)},
        {1257, MAKELANGID(LANG_ESTONIAN, SUBLANG_DEFAULT)},
        {1258, MAKELANGID(LANG_VIETNAMESE, SUBLANG_DEFAULT)},
    };
    for (const auto& locale : Locales)
        if (locale.codePage == codePage) return MAKELCID(locale.language, SORT_DEFAULT);
    return 0;
}

}  // namespace

// kestrune_batch_driver [--codepage N]
int main(int argc, char** argv) {
    using namespace kestrune::cli;
    // Bytes in and out as they are: text mode would turn "\n" into CR LF on
    // output and drop CRs from the requests.
    if (_setmode(_fileno(stdin), _O_BINARY) == -1 || _setmode(_fileno(stdout), _O_BINARY) == -1) {
        std::cerr << "kestrune_batch_driver: cannot switch standard input and output to binary mode\n";
        return 1;
    }
    if (argc == 3 && std::string(argv[1]) == "--codepage") {
        const LCID locale = LocaleFor(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
        if (locale == 0 || !SetThreadLocale(locale) || kestrune::AnsiCodePage() != std::strtoul(argv[2], nullptr, 10)) {
            std::cerr << "kestrune_batch_driver: cannot give this thread a locale with code page " << argv[2] << '\n';
            return 1;
        }
    } else if (argc != 1) {
        std::cerr << "usage: kestrune_batch_driver [--codepage N]\n";
        return 2;
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
