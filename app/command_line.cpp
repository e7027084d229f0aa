#include "command_line.h"

#include "mizong_config.h"

#include <cstring>

namespace mizong {

namespace {

constexpr const char kHelp[] =
    "Usage: mizong [Qt options]\n"
    "\n"
    "觅踪助理 " MIZONG_VERSION_SHORT ": looks up a lost or stolen iPhone by its IMEI or serial\n"
    "number (activation history, model, warranty, and whether it has been\n"
    "re-activated), and a SIM card by its ICCID. Everything happens in its window.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Any other argument goes to Qt (for example -platform wayland) and is\n"
    "otherwise ignored.\n"
    "\n"
    "Lookup service: " MIZONG_SERVICE_BASE "\n"
    "Home site:      " MIZONG_HOME_SITE_BASE "\n";

} // namespace

std::optional<int> answerCommandLine(int argc, const char* const argv[], std::FILE* out)
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            std::fputs(kHelp, out);
            return 0;
        }
        if (std::strcmp(argument, "--version") == 0) {
            std::fputs("mizong " MIZONG_VERSION "\n", out);
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace mizong
