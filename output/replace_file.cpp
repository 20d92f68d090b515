#include "output/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

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
        const int file = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file >= 0) {
            ::close(file);
            return;
        }
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
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
}

void ReplacementFile::Replace() {
    std::error_code error;
    fs::rename(path_, target_, error);
    if (error)
        throw std::runtime_error("cannot put the new " + target_.string() +
                                 " in place: " + error.message());
    path_.clear();
}

void ReplacementFile::Write(std::string_view bytes) {
    std::ofstream stream(path_, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    stream.close();
    if (!stream)
        throw std::runtime_error("cannot write " + target_.string() +
                                 ": the data could not all be written (is the disk full?)");
}

void ReplaceFile(const fs::path &path, std::string_view bytes) {
    ReplacementFile replacement(path);
    replacement.Write(bytes);
    replacement.Replace();
}

}  // namespace apps
