#include "output/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace apps {

namespace fs = std::filesystem;

ReplacementFile::ReplacementFile(const fs::path &target) : target_(target) {
    if (!target.has_filename()) throw std::runtime_error("no file name in " + target.string());
    std::error_code ignored;
    if (fs::is_directory(target, ignored))
        throw std::runtime_error("cannot write " + target.string() + ": it is a folder");
    static std::atomic<unsigned> made{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0;; ++attempt) {
        path_ = folder / ("." + target.filename().string() + "." + std::to_string(getpid()) + "-" +
                          std::to_string(made++) + ".tmp");
        descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor_ >= 0) return;
        const int error = errno;
        if (error != EEXIST || attempt == 100) {
            path_.clear();
            throw std::runtime_error("cannot write " + target.string() + " in the folder " +
                                     folder.string() + ": " +
                                     std::generic_category().message(error));
        }
    }
}

ReplacementFile::~ReplacementFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
}

void ReplacementFile::Failed(int error) const {
    throw std::runtime_error("cannot write " + target_.string() + ": " +
                             std::generic_category().message(error));
}

void ReplacementFile::Append(std::string_view bytes) {
    if (descriptor_ < 0) throw std::logic_error("a replacement file is appended to once finished");
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) Failed(written < 0 ? errno : ENOSPC);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void ReplacementFile::Finish() {
    if (descriptor_ < 0) return;
    const int result = ::close(std::exchange(descriptor_, -1));
    if (result != 0 && errno != EINTR) Failed(errno);
}

void ReplacementFile::Write(std::string_view bytes) {
    Append(bytes);
    Finish();
}

void ReplacementFile::Replace() {
    Finish();
    std::error_code error;
    fs::rename(path_, target_, error);
    if (error)
        throw std::runtime_error("cannot put the new " + target_.string() +
                                 " in place: " + error.message());
    path_.clear();
}

void ReplaceFile(const fs::path &path, std::string_view bytes) {
    ReplacementFile replacement(path);
    replacement.Write(bytes);
    replacement.Replace();
}

}  // namespace apps
