// apps/: the programs (the demo, standin-cli, tamberlo-scene) and their helpers.
//
// tamberlo-scene: copies motion between LightWave scene files with the
// Tamberlo module, headless, in the stand-in Layout host, acting on the
// module's panels as a person would; or reads one scene and writes it back.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace apps {

// Runs the tool on `arguments` (the program's name first, as in argv). What a
// user reads goes to `out`, errors to `err`; the result is the exit status.
// `programFolder` is where the module is looked for when --module is not given.
// When `errIsTerminal`, long steps show a progress line on `err` (unless
// --quiet is given).
int RunSceneTool(const std::vector<std::string> &arguments,
                 const std::filesystem::path &programFolder, std::ostream &out, std::ostream &err,
                 bool errIsTerminal = false);

}  // namespace apps
