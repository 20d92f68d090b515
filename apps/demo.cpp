// The demo: Tamberlo loaded into the stand-in Layout host, its servers listed
// and each one activated, showing what the module asks of the host.
#include <iostream>
#include <string>

#include "apps/print.h"
#include "standin/standin.h"

namespace {

void ShowActivation(standin::Host &host, const standin::LoadedModule &module,
                    const std::string &server, int version) {
    host.ClearTrace();
    const std::size_t transcriptStart = host.Transcript().size();
    const int result = host.Activate(module, server, version);
    std::cout << "\nactivate \"" << server << "\" with interface version " << version
              << " -> returns " << result << '\n';
    int lookups = 0;
    for (const standin::TraceEntry &entry : host.Trace()) {
        if (entry.service == "global") {
            std::cout << "    looks up \"" << entry.operation << "\" (" << entry.arguments << ")\n";
            ++lookups;
        }
    }
    if (lookups == 0) std::cout << "    asks nothing of the host\n";
    apps::PrintTranscript(host, transcriptStart);
}

}  // namespace

int main(int argc, char **argv) {
    const std::string path = argc > 1 ? argv[1] : "Tamberlo.p";
    try {
        standin::Host host;
        host.EnableTrace(true);
        standin::LoadedModule module(path);
        apps::PrintServers(module);
        for (const standin::ServerInfo &server : module.Servers()) {
            ShowActivation(host, module, server.name, 1);
            ShowActivation(host, module, server.name, 2);
        }
        return 0;
    } catch (const std::exception &error) {
        std::cerr << "demo: " << error.what() << '\n';
        return 1;
    }
}
