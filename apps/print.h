// Printing what the stand-in host saw, shared by the command-line programs.
#pragma once

#include <cstddef>
#include <cstdio>
#include <iostream>
#include <string>

#include "standin/standin.h"

namespace apps {

// Prints the transcript lines added since `from`, indented, and returns the new end.
inline std::size_t PrintTranscript(const standin::Host &host, std::size_t from,
                                   const char *indent = "    ", std::ostream &out = std::cout) {
    const auto &lines = host.Transcript();
    for (std::size_t i = from; i < lines.size(); ++i) out << indent << lines[i] << '\n';
    return lines.size();
}

// Prints the breaches of the host contract that the module made, if any, and
// whether there were none.
inline bool PrintViolations(const standin::Host &host, std::ostream &out = std::cout) {
    const auto &violations = host.Violations();
    if (violations.empty()) return true;
    out << "\nThe module broke the host contract " << violations.size()
        << (violations.size() == 1 ? " time:\n" : " times:\n");
    for (const standin::Violation &violation : violations) out << "  " << violation << '\n';
    return false;
}

inline void PrintServers(const standin::LoadedModule &module) {
    const host::ModuleDescriptor &d = module.Descriptor();
    char words[96];
    std::snprintf(words, sizeof words, "sync word 0x%08llx, system version %llu, machine 0x%llx",
                  static_cast<unsigned long long>(d.sync),
                  static_cast<unsigned long long>(d.systemVersion),
                  static_cast<unsigned long long>(d.machine));
    std::cout << "module " << module.Path() << "\n  " << words << '\n';
    int order = 1;
    for (const standin::ServerInfo &server : module.Servers())
        std::cout << "  server " << order++ << ": " << server.className << " \"" << server.name
                  << "\"\n";
}

}  // namespace apps
