// pe32/: 32-bit Windows DLLs loaded and run in a 32-bit Linux process.
//
// A 32-bit Windows DLL loaded into this 32-bit Linux process the way Windows
// loads one: its sections mapped at its preferred base or relocated, its
// imports bound to the runtime of runtime.h, its thread-local data set up for
// the loading thread behind the thread environment block, and its entry point
// run at load and at unload. Its code then runs natively, or under the
// emulator that runs this process.
//
// The DLL runs on the thread that loaded it; the runtime serves one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "pe32/pe_file.h"

namespace pe32 {

// Why a file was not loaded; nothing of it stays mapped.
class LoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Image {
  public:
    // Loads the DLL at `path`; throws LoadError naming the file and the reason.
    explicit Image(const std::string &path);
    // Runs the entry point for the unload, frees the thread-local data and
    // unmaps the image.
    ~Image();
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    // The address of an export, by name; null when the DLL has no such export.
    void *Export(std::string_view name) const;
    // The name the DLL gives itself in its export directory ("" without one).
    const std::string &ExportedName() const { return exportedName_; }

    std::uintptr_t Base() const { return reinterpret_cast<std::uintptr_t>(base_); }
    std::size_t Size() const { return headers_.imageSize; }
    bool Contains(const void *address) const {
        return reinterpret_cast<std::uintptr_t>(address) - Base() < Size();
    }
    // Whether it could not have its preferred base and was moved.
    bool Relocated() const { return Base() != headers_.imageBase; }
    const std::string &Path() const { return path_; }

  private:
    void Map(std::span<const std::byte> file);
    void Relocate();
    void BindImports();
    void Protect();
    void ReadExports();
    void AttachThreadData();
    void RunTlsCallbacks(std::uint32_t reason);
    bool RunEntryPoint(std::uint32_t reason);
    void Unmap();

    // Bounds-checked views of the mapped image, by RVA.
    template <typename T>
    T &At(std::uint32_t rva, const char *what) const;
    std::string StringAt(std::uint32_t rva, const char *what) const;

    std::string path_;
    Headers headers_;
    std::byte *base_ = nullptr;
    std::string exportedName_;
    int tlsIndex_ = -1;
    bool attached_ = false;
};

}  // namespace pe32
