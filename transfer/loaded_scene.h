// A scene file read into a stand-in host of its own, as Layout holds one
// scene at a time, and written back whole or not at all.
#pragma once

#include <memory>
#include <string>

#include "output/replace_file.h"
#include "scenefile/scene_file.h"
#include "standin/standin.h"
#include "transfer/progress.h"

namespace apps {

struct LoadedScene {
    // The host is held apart so that its address, which the services find
    // through Host::Current(), never moves.
    std::unique_ptr<standin::Host> host = std::make_unique<standin::Host>();
    standin::SceneFile file;
    std::string path;  // as the caller named it, for messages and headings

    // Reads the file at `scenePath`; throws standin::SceneFileError.
    LoadedScene(const std::string &scenePath, ProgressLine &progress);
};

// The scene's text, made a piece at a time straight into `file` and
// finished, so that a large scene is never held twice. A scene the file
// format cannot hold is refused here (standin::SceneFileError), and a failure
// to write (std::runtime_error) too; either leaves the target as it was, and
// the new file goes with the ReplacementFile. The caller puts it in place.
void WriteScene(const LoadedScene &scene, ReplacementFile &file, ProgressLine &progress);

// Writes the scene over the file at `path` whole, or not at all.
void WriteSceneTo(const LoadedScene &scene, const std::string &path, ProgressLine &progress);

}  // namespace apps
