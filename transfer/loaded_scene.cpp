#include "transfer/loaded_scene.h"

#include <string_view>

namespace apps {

namespace {

standin::SceneFile Load(const std::string &path, standin::Scene &scene, ProgressLine &progress) {
    progress.Start("reading " + path);
    standin::SceneFile file =
        standin::SceneFile::Load(path, scene, [&progress](std::size_t done, std::size_t total) {
            progress.Update(done, total, "bytes");
        });
    progress.End();
    return file;
}

}  // namespace

LoadedScene::LoadedScene(const std::string &scenePath, ProgressLine &progress)
    : file(Load(scenePath, host->Scene(), progress)), path(scenePath) {}

void WriteScene(const LoadedScene &scene, ReplacementFile &file, ProgressLine &progress) {
    progress.Start("writing " + file.Target().string());
    scene.file.Write(
        scene.host->Scene(), [&file](std::string_view bytes) { file.Append(bytes); },
        [&progress](std::size_t done, std::size_t total) {
            progress.Update(done, total, "bytes");
        });
    file.Finish();
    progress.End();
}

void WriteSceneTo(const LoadedScene &scene, const std::string &path, ProgressLine &progress) {
    ReplacementFile file(path);
    WriteScene(scene, file, progress);
    file.Replace();
}

}  // namespace apps
