#include "pe32/image.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "pe32/runtime.h"
#include "pe32/thread_block.h"

namespace pe32 {

namespace {

constexpr std::uint32_t DLL_PROCESS_DETACH = 0;
constexpr std::uint32_t DLL_PROCESS_ATTACH = 1;
constexpr std::uint16_t RELOCATION_NONE = 0;
constexpr std::uint16_t RELOCATION_32BIT = 3;
constexpr std::uint32_t IMPORT_BY_ORDINAL = 0x80000000;

// The entry point and TLS callbacks, as Windows calls them.
using EntryPoint = int(__attribute__((stdcall)) *)(void *module, std::uint32_t reason,
                                                   void *reserved);
using TlsCallback = void(__attribute__((stdcall)) *)(void *module, std::uint32_t reason,
                                                     void *reserved);

// Implicit thread-local data indices, shared by every loaded DLL as on Windows.
bool implicitTlsUsed[IMPLICIT_TLS_COUNT] = {};

std::uint32_t PageRound(std::uint32_t size) {
    return (size + PAGE_SIZE - 1) / PAGE_SIZE * PAGE_SIZE;
}

std::vector<std::byte> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0) throw LoadError(path + ": cannot open the file");
    std::vector<std::byte> file(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char *>(file.data()), size))
        throw LoadError(path + ": cannot read the file");
    return file;
}

}  // namespace

Image::Image(const std::string &path) : path_(path) {
    const std::vector<std::byte> file = ReadFile(path);
    try {
        headers_ = ReadHeaders(file);
        CurrentThreadBlock();
    } catch (const std::exception &error) {
        throw LoadError(path + ": " + error.what());
    }
    Map(file);
    try {
        Relocate();
        BindImports();
        ReadExports();
        Protect();
        RegisterImage(*this);
        AttachThreadData();
        RunTlsCallbacks(DLL_PROCESS_ATTACH);
        attached_ = true;
        if (!RunEntryPoint(DLL_PROCESS_ATTACH))
            throw LoadError(path + ": its entry point refused to attach");
    } catch (...) {
        Unmap();
        throw;
    }
}

Image::~Image() {
    Unmap();
}

void Image::Map(std::span<const std::byte> file) {
    void *const preferred = reinterpret_cast<void *>(std::uintptr_t{headers_.imageBase});
    void *where = mmap(preferred, headers_.imageSize, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    // Elsewhere if the preferred base is taken (or the system took the
    // request for a hint); the relocations then move the image there.
    if (where == MAP_FAILED)
        where = mmap(nullptr, headers_.imageSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (where == MAP_FAILED)
        throw LoadError(path_ + ": no room for an image of " + std::to_string(headers_.imageSize) +
                        " bytes: " + std::strerror(errno));
    base_ = static_cast<std::byte *>(where);
    std::memcpy(base_, file.data(), headers_.headersSize);
    for (const Section &section : headers_.sections)
        std::memcpy(base_ + section.rva, file.data() + section.fileOffset, section.CopiedSize());
}

template <typename T>
T &Image::At(std::uint32_t rva, const char *what) const {
    if (rva > headers_.imageSize || sizeof(T) > headers_.imageSize - rva)
        throw LoadError(path_ + ": the " + what + " at RVA " + std::to_string(rva) +
                        " lies outside the image");
    return *reinterpret_cast<T *>(base_ + rva);
}

std::string Image::StringAt(std::uint32_t rva, const char *what) const {
    if (rva >= headers_.imageSize)
        throw LoadError(path_ + ": the " + what + " lies outside the image");
    const char *start = reinterpret_cast<const char *>(base_ + rva);
    const std::size_t length = strnlen(start, headers_.imageSize - rva);
    if (length == headers_.imageSize - rva)
        throw LoadError(path_ + ": the " + what + " runs past the end of the image");
    return std::string(start, length);
}

void Image::Relocate() {
    const std::uint32_t delta = static_cast<std::uint32_t>(Base()) - headers_.imageBase;
    if (delta == 0) return;
    if (!headers_.relocations.present())
        throw LoadError(path_ +
                        ": its preferred base is taken and it has no relocations to move it");
    std::uint32_t block = headers_.relocations.rva;
    const std::uint32_t end = block + headers_.relocations.size;
    while (block + 8 <= end) {
        const std::uint32_t page = At<std::uint32_t>(block, "relocation block");
        const std::uint32_t blockSize = At<std::uint32_t>(block + 4, "relocation block");
        if (blockSize < 8 || blockSize > end - block)
            throw LoadError(path_ + ": a relocation block has a size of " +
                            std::to_string(blockSize));
        for (std::uint32_t entry = block + 8; entry + 2 <= block + blockSize; entry += 2) {
            const std::uint16_t fixup = At<std::uint16_t>(entry, "relocation");
            const std::uint16_t type = fixup >> 12;
            if (type == RELOCATION_NONE) continue;
            if (type != RELOCATION_32BIT)
                throw LoadError(path_ + ": relocation of type " + std::to_string(type) +
                                ", which a 32-bit x86 image does not use");
            At<std::uint32_t>(page + (fixup & 0xfff), "relocated word") += delta;
        }
        block += blockSize;
    }
}

void Image::BindImports() {
    if (!headers_.imports.present()) return;
    std::string missing;
    for (std::uint32_t descriptor = headers_.imports.rva;; descriptor += 20) {
        const std::uint32_t lookup = At<std::uint32_t>(descriptor, "import descriptor");
        const std::uint32_t nameRva = At<std::uint32_t>(descriptor + 12, "import descriptor");
        const std::uint32_t addresses = At<std::uint32_t>(descriptor + 16, "import descriptor");
        if (nameRva == 0 && addresses == 0) break;
        const std::string library = StringAt(nameRva, "name of an imported library");
        const std::uint32_t names = lookup != 0 ? lookup : addresses;
        for (std::uint32_t i = 0;; ++i) {
            const std::uint32_t entry = At<std::uint32_t>(names + 4 * i, "import lookup table");
            if (entry == 0) break;
            std::string name;
            void *address = nullptr;
            if ((entry & IMPORT_BY_ORDINAL) != 0) {
                name = "ordinal " + std::to_string(entry & 0xffff);
            } else {
                name = StringAt(entry + 2, "name of an import");
                address = RuntimeImport(library, name);
            }
            if (address == nullptr) missing += (missing.empty() ? "" : ", ") + library + "!" + name;
            At<std::uint32_t>(addresses + 4 * i, "import address table") =
                static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
        }
    }
    if (!missing.empty())
        throw LoadError(path_ + ": it imports what the runtime does not have: " + missing);
}

void Image::ReadExports() {
    if (!headers_.exports.present()) return;
    exportedName_ = StringAt(At<std::uint32_t>(headers_.exports.rva + 12, "export directory"),
                             "DLL name of the export directory");
}

void *Image::Export(std::string_view name) const {
    if (!headers_.exports.present()) return nullptr;
    const std::uint32_t directory = headers_.exports.rva;
    const std::uint32_t functionCount = At<std::uint32_t>(directory + 20, "export directory");
    const std::uint32_t nameCount = At<std::uint32_t>(directory + 24, "export directory");
    const std::uint32_t functions = At<std::uint32_t>(directory + 28, "export directory");
    const std::uint32_t names = At<std::uint32_t>(directory + 32, "export directory");
    const std::uint32_t ordinals = At<std::uint32_t>(directory + 36, "export directory");
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        if (StringAt(At<std::uint32_t>(names + 4 * i, "export name"), "export name") != name)
            continue;
        const std::uint16_t ordinal = At<std::uint16_t>(ordinals + 2 * i, "export ordinal");
        if (ordinal >= functionCount) return nullptr;
        const std::uint32_t rva = At<std::uint32_t>(functions + 4 * ordinal, "export address");
        // An address inside the export directory forwards to another DLL,
        // which this loader does not follow.
        if (rva - directory < headers_.exports.size || rva >= headers_.imageSize) return nullptr;
        return base_ + rva;
    }
    return nullptr;
}

void Image::Protect() {
    if (mprotect(base_, PageRound(headers_.headersSize), PROT_READ) != 0)
        throw LoadError(path_ + ": cannot protect its headers: " + std::strerror(errno));
    for (const Section &section : headers_.sections) {
        const int protection = ((section.characteristics & SECTION_READ) != 0 ? PROT_READ : 0) |
                               ((section.characteristics & SECTION_WRITE) != 0 ? PROT_WRITE : 0) |
                               ((section.characteristics & SECTION_EXECUTE) != 0 ? PROT_EXEC : 0);
        if (section.MappedSize() != 0 &&
            mprotect(base_ + section.rva, PageRound(section.MappedSize()), protection) != 0)
            throw LoadError(path_ + ": cannot protect section " + section.name + ": " +
                            std::strerror(errno));
    }
}

// The TLS directory: the initial data of each thread's block, where the DLL
// reads its index, and the callbacks to run with the entry point.
struct TlsDirectory {
    std::uint32_t dataStart;
    std::uint32_t dataEnd;
    std::uint32_t indexAddress;
    std::uint32_t callbacks;
    std::uint32_t zeroFill;
};

void Image::AttachThreadData() {
    if (!headers_.tls.present()) return;
    const TlsDirectory directory = At<TlsDirectory>(headers_.tls.rva, "TLS directory");
    const auto rvaOf = [&](std::uint32_t address) {
        return address - static_cast<std::uint32_t>(Base());
    };
    if (directory.dataEnd < directory.dataStart)
        throw LoadError(path_ + ": its TLS data ends before it starts");
    const std::uint32_t dataSize = directory.dataEnd - directory.dataStart;
    if (dataSize > 0) At<std::byte>(rvaOf(directory.dataEnd) - 1, "TLS data");
    int index = 0;
    while (index < static_cast<int>(IMPLICIT_TLS_COUNT) && implicitTlsUsed[index]) ++index;
    if (index == static_cast<int>(IMPLICIT_TLS_COUNT))
        throw LoadError(path_ + ": every thread-local data index is taken");
    // Every thread's copy of the initial data; this runtime serves the one
    // thread that loads the DLL.
    ThreadBlock &thread = CurrentThreadBlock();
    auto *data = static_cast<std::byte *>(std::calloc(1, dataSize + directory.zeroFill + 1));
    if (data == nullptr) throw LoadError(path_ + ": no memory for its thread-local data");
    if (dataSize > 0) std::memcpy(data, base_ + rvaOf(directory.dataStart), dataSize);
    At<std::uint32_t>(rvaOf(directory.indexAddress), "TLS index") =
        static_cast<std::uint32_t>(index);
    thread.implicitTls[index] = data;
    implicitTlsUsed[index] = true;
    tlsIndex_ = index;
}

void Image::RunTlsCallbacks(std::uint32_t reason) {
    if (!headers_.tls.present()) return;
    const TlsDirectory directory = At<TlsDirectory>(headers_.tls.rva, "TLS directory");
    if (directory.callbacks == 0) return;
    for (std::uint32_t at = directory.callbacks - static_cast<std::uint32_t>(Base());; at += 4) {
        const std::uint32_t callback = At<std::uint32_t>(at, "TLS callback list");
        if (callback == 0) break;
        if (!Contains(reinterpret_cast<void *>(std::uintptr_t{callback})))
            throw LoadError(path_ + ": a TLS callback lies outside the image");
        reinterpret_cast<TlsCallback>(callback)(base_, reason, nullptr);
    }
}

bool Image::RunEntryPoint(std::uint32_t reason) {
    if (headers_.entryPoint == 0) return true;
    return reinterpret_cast<EntryPoint>(base_ + headers_.entryPoint)(base_, reason, nullptr) != 0;
}

void Image::Unmap() {
    if (base_ == nullptr) return;
    if (attached_) {
        attached_ = false;
        RunTlsCallbacks(DLL_PROCESS_DETACH);
        RunEntryPoint(DLL_PROCESS_DETACH);
    }
    if (tlsIndex_ >= 0) {
        std::free(CurrentThreadBlock().implicitTls[tlsIndex_]);
        CurrentThreadBlock().implicitTls[tlsIndex_] = nullptr;
        implicitTlsUsed[tlsIndex_] = false;
        tlsIndex_ = -1;
    }
    UnregisterImage(*this);
    munmap(base_, headers_.imageSize);
    base_ = nullptr;
}

}  // namespace pe32
