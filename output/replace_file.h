// Replacing a file whole or not at all: the new content goes to a file of its
// own beside the target, which is renamed over the target once complete, so a
// failure never leaves a half-written or emptied file.
#pragma once

#include <filesystem>
#include <string_view>

namespace apps {

// An empty new file beside `target`, made at once, so that a folder that is
// missing or cannot be written is found before any work. It is removed unless
// it has replaced the target. Its content is either written through it, a
// piece at a time, or by another writer that opens Path() itself.
class ReplacementFile {
  public:
    explicit ReplacementFile(const std::filesystem::path &target);  // throws std::runtime_error
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    const std::filesystem::path &Target() const { return target_; }
    // Adds `bytes` to the end of the file; throws std::runtime_error saying
    // what failed (a full disk shows here, or at the latest in Finish()).
    void Append(std::string_view bytes);
    // Ends the writing: the file is closed, and a failure to put the last of
    // it on the disk is reported; throws std::runtime_error.
    void Finish();
    // Writes `bytes` as the file's whole content and finishes it.
    void Write(std::string_view bytes);
    // Renames the file over the target, finishing it first; throws
    // std::runtime_error.
    void Replace();

  private:
    [[noreturn]] void Failed(int error) const;

    std::filesystem::path target_;
    std::filesystem::path path_;
    int descriptor_ = -1;  // open until finished
};

// Replaces the file at `path` with `bytes`; throws std::runtime_error saying
// what failed.
void ReplaceFile(const std::filesystem::path &path, std::string_view bytes);

}  // namespace apps
