// The stand-in host's command line: loads a module, lists its servers, and
// activates one with a given interface version, showing every service call.
#include <cstdlib>
#include <iostream>
#include <string>

#include "apps/print.h"
#include "standin/standin.h"

namespace {

int Usage() {
    std::cerr << "usage: standin-cli MODULE                 list the module's servers\n"
                 "       standin-cli MODULE SERVER [VERSION] activate SERVER (version 2 by "
                 "default)\n"
                 "A panel that opens is cancelled: this program has no scripted user.\n"
                 "Calls that break the host contract are listed, and the exit code is 1.\n";
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 4) return Usage();
    try {
        standin::Host host;
        standin::LoadedModule module(argv[1]);
        apps::PrintServers(module);
        if (argc == 2) return 0;
        const int version = argc == 4 ? std::atoi(argv[3]) : host::LAYOUT_GENERIC_VERSION;
        host.EnableTrace(true);
        const int result = host.Activate(module, argv[2], version);
        std::cout << "activate \"" << argv[2] << "\" version " << version << " -> " << result
                  << '\n';
        for (const standin::TraceEntry &entry : host.Trace())
            std::cout << "  " << entry.service << " " << entry.operation << " " << entry.arguments
                      << '\n';
        apps::PrintTranscript(host, 0, "  | ");
        return apps::PrintViolations(host) ? 0 : 1;
    } catch (const std::exception &error) {
        std::cerr << "standin-cli: " << error.what() << '\n';
        return 1;
    }
}
