#include "pe32/pe_file.h"

#include <cstdio>
#include <cstring>

namespace pe32 {

namespace {

constexpr std::uint16_t MACHINE_I386 = 0x014c;
constexpr std::uint16_t MACHINE_AMD64 = 0x8664;
constexpr std::uint16_t MAGIC_PE32 = 0x010b;
constexpr std::uint16_t MAGIC_PE32_PLUS = 0x020b;
constexpr std::uint16_t CHARACTERISTIC_EXECUTABLE = 0x0002;
constexpr std::uint16_t CHARACTERISTIC_DLL = 0x2000;
// No DLL of ours comes near this; a larger size is a damaged header, and
// would only make the loader reserve address space for nothing.
constexpr std::uint32_t LARGEST_IMAGE = 256u << 20;

constexpr std::size_t COFF_HEADER_SIZE = 20;
constexpr std::size_t SECTION_HEADER_SIZE = 40;
// Offsets in the PE32 optional header.
constexpr std::size_t OPT_ENTRY_POINT = 16;
constexpr std::size_t OPT_IMAGE_BASE = 28;
constexpr std::size_t OPT_SECTION_ALIGNMENT = 32;
constexpr std::size_t OPT_IMAGE_SIZE = 56;
constexpr std::size_t OPT_HEADERS_SIZE = 60;
constexpr std::size_t OPT_DIRECTORY_COUNT = 92;
constexpr std::size_t OPT_DIRECTORIES = 96;
enum DirectoryIndex : std::uint32_t { EXPORTS = 0, IMPORTS = 1, RELOCATIONS = 5, TLS = 9 };

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// Little-endian fields of the file, each read only where the file has it.
class Reader {
  public:
    explicit Reader(std::span<const std::byte> file) : file_(file) {}

    void Need(std::size_t offset, std::size_t size, const char *what) const {
        if (offset > file_.size() || size > file_.size() - offset)
            throw FormatError(std::string("truncated: the ") + what + " would end at byte " +
                              std::to_string(offset + size) + " of a file of " +
                              std::to_string(file_.size()) + " bytes");
    }
    std::uint16_t U16(std::size_t offset, const char *what) const {
        Need(offset, 2, what);
        return static_cast<std::uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
    }
    std::uint32_t U32(std::size_t offset, const char *what) const {
        Need(offset, 4, what);
        return Byte(offset) | Byte(offset + 1) << 8 | Byte(offset + 2) << 16 |
               static_cast<std::uint32_t>(Byte(offset + 3)) << 24;
    }
    std::string Name(std::size_t offset) const {
        Need(offset, 8, "section table");
        const char *start = reinterpret_cast<const char *>(file_.data() + offset);
        return std::string(start, strnlen(start, 8));
    }
    std::size_t size() const { return file_.size(); }

  private:
    std::uint32_t Byte(std::size_t offset) const {
        return std::to_integer<std::uint32_t>(file_[offset]);
    }
    std::span<const std::byte> file_;
};

bool FitsIn(std::uint32_t start, std::uint32_t size, std::uint32_t limit) {
    return start <= limit && size <= limit - start;
}

}  // namespace

Headers ReadHeaders(std::span<const std::byte> file) {
    const Reader reader(file);
    if (file.size() < 2 || reader.U16(0, "DOS header") != 0x5a4d)
        throw FormatError("not a PE file: it does not begin with \"MZ\"");
    const std::uint32_t peOffset = reader.U32(0x3c, "DOS header");
    if (reader.U32(peOffset, "PE signature") != 0x00004550)
        throw FormatError("not a PE file: no PE signature at byte " + std::to_string(peOffset));

    const std::size_t coff = peOffset + 4;
    const std::uint16_t machine = reader.U16(coff, "COFF header");
    const std::uint16_t sectionCount = reader.U16(coff + 2, "COFF header");
    const std::uint16_t optionalSize = reader.U16(coff + 16, "COFF header");
    const std::uint16_t characteristics = reader.U16(coff + 18, "COFF header");
    const std::size_t optional = coff + COFF_HEADER_SIZE;
    const std::uint16_t magic = reader.U16(optional, "optional header");
    if (machine == MACHINE_AMD64 || magic == MAGIC_PE32_PLUS)
        throw FormatError("a 64-bit DLL (machine " + Hex(machine) +
                          "); this loader runs 32-bit x86 DLLs only");
    if (machine != MACHINE_I386)
        throw FormatError("built for machine " + Hex(machine) + ", not 32-bit x86 (0x14c)");
    if (magic != MAGIC_PE32)
        throw FormatError("not a PE32 optional header (magic " + Hex(magic) + ")");
    if ((characteristics & CHARACTERISTIC_DLL) == 0)
        throw FormatError("not a DLL: a program, or an object of another kind");
    // The linker leaves the flag off an image it could not finish, and
    // Windows will not load one.
    if ((characteristics & CHARACTERISTIC_EXECUTABLE) == 0)
        throw FormatError("not an executable image: its linker did not finish it");

    Headers headers;
    headers.entryPoint = reader.U32(optional + OPT_ENTRY_POINT, "optional header");
    headers.imageBase = reader.U32(optional + OPT_IMAGE_BASE, "optional header");
    headers.sectionAlignment = reader.U32(optional + OPT_SECTION_ALIGNMENT, "optional header");
    headers.imageSize = reader.U32(optional + OPT_IMAGE_SIZE, "optional header");
    headers.headersSize = reader.U32(optional + OPT_HEADERS_SIZE, "optional header");
    const std::uint32_t directoryCount =
        reader.U32(optional + OPT_DIRECTORY_COUNT, "optional header");
    if (optionalSize < OPT_DIRECTORIES + 8 * std::min<std::uint32_t>(directoryCount, 16))
        throw FormatError("the optional header is shorter than its data directories");
    if (headers.imageBase % 0x10000 != 0)
        throw FormatError("image base " + Hex(headers.imageBase) + " is not a multiple of 64 KB");
    if (headers.sectionAlignment < PAGE_SIZE || headers.sectionAlignment % PAGE_SIZE != 0)
        throw FormatError("section alignment " + Hex(headers.sectionAlignment) +
                          " is not a whole number of pages");
    if (headers.imageSize == 0 || headers.imageSize > LARGEST_IMAGE)
        throw FormatError("image size " + Hex(headers.imageSize) + " is out of range");
    if (headers.headersSize > headers.imageSize || headers.headersSize > file.size())
        throw FormatError("the headers' size " + Hex(headers.headersSize) +
                          " lies beyond the image or the file");
    if (headers.entryPoint >= headers.imageSize)
        throw FormatError("the entry point " + Hex(headers.entryPoint) + " lies outside the image");

    const auto directory = [&](DirectoryIndex index, const char *what) {
        if (index >= directoryCount) return Directory{};
        const std::size_t at = optional + OPT_DIRECTORIES + 8 * index;
        const Directory found{reader.U32(at, "data directories"),
                              reader.U32(at + 4, "data directories")};
        if (found.present() && !FitsIn(found.rva, found.size, headers.imageSize))
            throw FormatError(std::string("the ") + what + " directory lies outside the image");
        return found;
    };
    headers.exports = directory(EXPORTS, "export");
    headers.imports = directory(IMPORTS, "import");
    headers.relocations = directory(RELOCATIONS, "base relocation");
    headers.tls = directory(TLS, "TLS");

    const std::size_t table = optional + optionalSize;
    reader.Need(table, SECTION_HEADER_SIZE * sectionCount, "section table");
    headers.sections.reserve(sectionCount);
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::size_t at = table + SECTION_HEADER_SIZE * i;
        Section section;
        section.name = reader.Name(at);
        section.virtualSize = reader.U32(at + 8, "section table");
        section.rva = reader.U32(at + 12, "section table");
        section.fileSize = reader.U32(at + 16, "section table");
        section.fileOffset = reader.U32(at + 20, "section table");
        section.characteristics = reader.U32(at + 36, "section table");
        const std::string which = "section " + std::to_string(i + 1) + " (" + section.name + ")";
        if (section.rva % headers.sectionAlignment != 0 || section.rva < headers.headersSize)
            throw FormatError(which + " starts at " + Hex(section.rva) +
                              ", not on a page of its own after the headers");
        if (!FitsIn(section.rva, section.MappedSize(), headers.imageSize))
            throw FormatError(which + " lies outside the image");
        if (section.CopiedSize() != 0 && !FitsIn(section.fileOffset, section.CopiedSize(),
                                                 static_cast<std::uint32_t>(file.size())))
            throw FormatError(
                "truncated: " + which + " would end at byte " +
                std::to_string(std::uint64_t{section.fileOffset} + section.CopiedSize()) +
                " of a file of " + std::to_string(file.size()) + " bytes");
        headers.sections.push_back(std::move(section));
    }
    return headers;
}

}  // namespace pe32
