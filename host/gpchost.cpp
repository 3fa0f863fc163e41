// gpchost PAGE [options]: starts a meeting page's extension as a browser
// plug-in host would, and prints what happens.
//   --dll PATH        the extension (default: vrgpcext.dll beside gpchost.exe)
//   --dir PATH        the host directory handed to the extension
//   --activex         act as the ActiveX host (no plug-in marker in slot 1)
//   --seconds N       end the run after N seconds (default 60)
//   --until TEXT      end the run once a trace line contains TEXT
//   --ode SECTION     once downloads are done, check and download SECTION on demand
//   --message-boxes   show host messages as message boxes
//   --quiet           do not print trace lines
//   --linger MS       keep running MS milliseconds after --until matched
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/gpc_host.h"

int main(int argc, char** argv)
{
    GpcHostOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto next = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "gpchost: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (!std::strcmp(a, "--dll")) options.dllPath = next(a);
        else if (!std::strcmp(a, "--dir")) options.directory = next(a);
        else if (!std::strcmp(a, "--activex")) options.pluginHost = false;
        else if (!std::strcmp(a, "--seconds")) options.seconds = static_cast<DWORD>(std::strtoul(next(a), nullptr, 10));
        else if (!std::strcmp(a, "--until")) options.until = next(a);
        else if (!std::strcmp(a, "--ode")) options.odeSection = next(a);
        else if (!std::strcmp(a, "--message-boxes")) options.messageBoxes = true;
        else if (!std::strcmp(a, "--quiet")) options.quietTrace = true;
        else if (!std::strcmp(a, "--linger")) options.lingerMs = static_cast<DWORD>(std::strtoul(next(a), nullptr, 10));
        else if (a[0] == '-' && a[1] == '-') {
            std::fprintf(stderr, "gpchost: unknown option %s\n", a);
            return 2;
        } else options.page = a;
    }
    if (options.page.empty()) {
        std::fprintf(stderr, "usage: gpchost PAGE [--dll PATH] [--dir PATH] [--activex] [--seconds N] "
                             "[--until TEXT] [--ode SECTION] [--message-boxes] [--quiet]\n");
        return 2;
    }
    if (options.seconds == 0) options.seconds = 60;
    CGpcHost host(options);
    if (!host.LoadPage()) return 2;
    return host.Run();
}
