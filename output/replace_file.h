// Replacing a file whole or not at all: the new content goes to a file of its
// own beside the target, which is renamed over the target once complete, so a
// failure never leaves a half-written or emptied file.
#pragma once

#include <filesystem>
#include <string_view>

namespace apps {

// An empty new file beside `target`, made at once, so that a folder that is
// missing or cannot be written is found before any work. It is removed unless
// it has replaced the target.
class ReplacementFile {
  public:
    explicit ReplacementFile(const std::filesystem::path &target);  // throws std::runtime_error
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    const std::filesystem::path &Target() const { return target_; }
    // Writes `bytes` as the file's whole content; throws std::runtime_error.
    void Write(std::string_view bytes);
    // Renames the file over the target; throws std::runtime_error.
    void Replace();

  private:
    std::filesystem::path target_;
    std::filesystem::path path_;
};

// Replaces the file at `path` with `bytes`; throws std::runtime_error saying
// what failed.
void ReplaceFile(const std::filesystem::path &path, std::string_view bytes);

}  // namespace apps
