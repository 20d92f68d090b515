// PE32 files as the loader reads them: the headers of a 32-bit x86 Windows
// DLL, its sections and the directories it needs to run (exports, imports,
// base relocations, thread-local storage). Reading checks every offset and
// size against the file, so a damaged file is refused before anything of it
// is mapped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe32 {

// What is wrong with a file that is not a PE32 DLL this loader can run.
class FormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An address range relative to the image base, as the headers give it.
struct Directory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    bool present() const { return rva != 0 && size != 0; }
};

struct Section {
    std::string name;
    std::uint32_t rva = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t fileOffset = 0;
    std::uint32_t fileSize = 0;
    std::uint32_t characteristics = 0;

    // The bytes the section takes in the image, and those of them that come
    // from the file; the rest are zero.
    std::uint32_t MappedSize() const { return virtualSize != 0 ? virtualSize : fileSize; }
    std::uint32_t CopiedSize() const { return std::min(fileSize, MappedSize()); }
};

// The size of the pages an image is mapped and protected in.
inline constexpr std::uint32_t PAGE_SIZE = 0x1000;

// Section characteristics: what the mapped pages may be used for.
inline constexpr std::uint32_t SECTION_EXECUTE = 0x20000000;
inline constexpr std::uint32_t SECTION_READ = 0x40000000;
inline constexpr std::uint32_t SECTION_WRITE = 0x80000000;

struct Headers {
    std::uint32_t imageBase = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t headersSize = 0;
    std::uint32_t entryPoint = 0;  // an RVA; 0 for none
    std::uint32_t sectionAlignment = 0;
    Directory exports;
    Directory imports;
    Directory relocations;
    Directory tls;
    std::vector<Section> sections;
};

// Reads the headers of a PE32 DLL for x86 from the whole file; throws
// FormatError saying why a file is refused: not PE at all, truncated, for
// another machine (a 64-bit DLL among them), not a DLL, not marked as an
// executable image, or with sections or directories that lie outside the
// file or the image; one that ends exactly at the end of either is inside.
Headers ReadHeaders(std::span<const std::byte> file);

}  // namespace pe32
