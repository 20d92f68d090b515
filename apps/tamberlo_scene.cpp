// tamberlo-scene: copies motion between LightWave scene files with the
// module, headless; see apps/scene_tool.h.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "apps/scene_tool.h"

int main(int argc, char **argv) {
    // The module is looked for beside the program, wherever it is run from.
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) self = std::filesystem::absolute(argv[0]);
    return apps::RunSceneTool(std::vector<std::string>(argv, argv + argc), self.parent_path(),
                              std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
