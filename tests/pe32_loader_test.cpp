// The PE32 loader on real DLLs: a probe DLL that shows relocation, thread-
// local data, TLS callbacks and its imports from the inside, and the shipping
// module made unfit for loading in each of the ways the loader must refuse.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "pe32/image.h"
#include "pe32/runtime.h"
#include "pe32/thread_block.h"

namespace {

template <typename Function>
Function Export(const pe32::Image &image, const char *name) {
    void *address = image.Export(name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Function>(address);
}

TEST(Pe32LoaderTest, MapsAtThePreferredBaseThenRelocatesASecondCopy) {
    const pe32::Image first(PE32_PROBE_PATH);
    const pe32::Image second(PE32_PROBE_PATH);
    EXPECT_FALSE(first.Relocated());
    EXPECT_TRUE(second.Relocated());
    EXPECT_EQ(first.ExportedName(), "pe32_probe.p");
    for (const pe32::Image *image : {&first, &second}) {
        EXPECT_TRUE(image->Contains(image->Export("PointerIsRight")));
        // A pointer to its own global, right only if every fixup was applied.
        EXPECT_EQ(Export<int (*)()>(*image, "PointerIsRight")(), 1);
    }
    EXPECT_EQ(first.Export("NoSuchExport"), nullptr);
}

TEST(Pe32LoaderTest, FindsEachExportThroughTheOrdinalTableWhateverTheOrderOfItsName) {
    const pe32::Image probe(PE32_PROBE_PATH);
    // Numbered Delta 1 to Alpha 4, the reverse of the sorted names.
    for (const char *name : {"Alpha", "Bravo", "Charlie", "Delta"})
        EXPECT_STREQ(static_cast<const char *>(probe.Export(name)), name);
}

std::string events;
void Observe(char what, unsigned long reason) {
    events += what + std::to_string(reason) + " ";
}

TEST(Pe32LoaderTest, RunsTheTlsCallbacksBeforeTheEntryPointAtLoadAndAtUnload) {
    events.clear();
    {
        const pe32::Image probe(PE32_PROBE_PATH);
        EXPECT_STREQ(Export<const char *(*)()>(probe, "AttachOrder")(), "TE");
        Export<void (*)(void (*)(char, unsigned long))>(probe, "SetObserver")(Observe);
    }
    EXPECT_EQ(events, "T0 E0 ");
}

TEST(Pe32LoaderTest, GivesEachDllItsOwnThreadCopyOfItsThreadLocalData) {
    const pe32::Image first(PE32_PROBE_PATH);
    const pe32::Image second(PE32_PROBE_PATH);
    int *const firstWord = Export<int *(*)()>(first, "ThreadWord")();
    int *const secondWord = Export<int *(*)()>(second, "ThreadWord")();
    EXPECT_EQ(*firstWord, 0x5eed);
    EXPECT_NE(firstWord, secondWord);
    *firstWord = 1;
    EXPECT_EQ(*secondWord, 0x5eed);
    EXPECT_EQ(*Export<int *(*)()>(first, "TemplateWord")(), 0x5eed) << "the template was written";
}

TEST(Pe32LoaderTest, BindsImportsToARuntimeThatKeepsWindowsThreadState) {
    const pe32::Image probe(PE32_PROBE_PATH);
    EXPECT_EQ(Export<std::uint32_t (*)(std::uint32_t)>(probe, "LastErrorAfterSetting")(1234),
              1234u);
    int anything = 0;
    EXPECT_EQ(Export<void *(*)(void *)>(probe, "TlsSlotRoundTrip")(&anything), &anything);
    EXPECT_EQ(Export<std::size_t (*)(const char *)>(probe, "Length")("four"), 4u);
}

std::vector<pe32::Allocation> asked;
bool gateRefuses = false;
bool Gate(pe32::Allocation function) {
    asked.push_back(function);
    return gateRefuses;
}

template <typename Function>
Function RuntimeFunction(const char *library, const char *name) {
    return reinterpret_cast<Function>(pe32::RuntimeImport(library, name));
}

TEST(Pe32LoaderTest, EveryAllocationFunctionFailsOnlyTheDllsOwnCallsThatTheGateRefuses) {
    const pe32::Image probe(PE32_PROBE_PATH);
    using Malloc = void *(*)(std::size_t);
    using Calloc = void *(*)(std::size_t, std::size_t);
    using Realloc = void *(*)(void *, std::size_t);
    // Each function, called by the probe and by this process.
    struct Calls {
        std::function<void *()> fromTheDll, fromThisProcess;
    };
    const std::map<pe32::Allocation, Calls> calls = {
        {pe32::Allocation::Malloc,
         {[&] { return Export<Malloc>(probe, "Allocate")(16); },
          [] { return RuntimeFunction<Malloc>("msvcrt.dll", "malloc")(16); }}},
        {pe32::Allocation::Calloc,
         {[&] { return Export<Calloc>(probe, "AllocateZeroed")(4, 4); },
          [] { return RuntimeFunction<Calloc>("msvcrt.dll", "calloc")(4, 4); }}},
        {pe32::Allocation::Realloc,
         {[&] { return Export<Realloc>(probe, "Reallocate")(nullptr, 16); },
          [] { return RuntimeFunction<Realloc>("msvcrt.dll", "realloc")(nullptr, 16); }}},
    };
    const auto release = Export<void (*)(void *)>(probe, "Release");
    pe32::SetAllocationGate(Gate);
    for (const auto &[function, name] : pe32::ALLOCATION_FUNCTIONS) {
        SCOPED_TRACE(name);
        ASSERT_EQ(calls.count(function), 1u);
        asked.clear();
        gateRefuses = true;
        EXPECT_EQ(calls.at(function).fromTheDll(), nullptr);
        void *ours = calls.at(function).fromThisProcess();
        EXPECT_NE(ours, nullptr);
        release(ours);
        EXPECT_EQ(asked, std::vector{function}) << "the gate must be asked, and told by whom";
        gateRefuses = false;
        void *memory = calls.at(function).fromTheDll();
        EXPECT_NE(memory, nullptr);
        release(memory);
    }
    pe32::SetAllocationGate(nullptr);
}

TEST(Pe32LoaderTest, HandsOutEachTlsIndexOnceUntilItIsFreed) {
    // KERNEL32's functions, stdcall as Windows code calls them.
    using Alloc = std::uint32_t(__attribute__((stdcall)) *)();
    using Free = int(__attribute__((stdcall)) *)(std::uint32_t);
    using Get = void *(__attribute__((stdcall)) *)(std::uint32_t);
    using Set = int(__attribute__((stdcall)) *)(std::uint32_t, void *);
    const auto tlsAlloc = RuntimeFunction<Alloc>("KERNEL32.dll", "TlsAlloc");
    const auto tlsFree = RuntimeFunction<Free>("KERNEL32.dll", "TlsFree");
    const auto tlsGet = RuntimeFunction<Get>("KERNEL32.dll", "TlsGetValue");
    const auto tlsSet = RuntimeFunction<Set>("KERNEL32.dll", "TlsSetValue");
    constexpr std::uint32_t OUT_OF_INDEXES = 0xffffffff;
    const auto valueOf = [](std::uint32_t index) {
        return reinterpret_cast<void *>(std::uintptr_t{index} + 1);
    };
    // Every index still free, each holding a value of its own.
    std::set<std::uint32_t> taken;
    for (std::uint32_t index;
         taken.size() <= pe32::TLS_INDEX_COUNT && (index = tlsAlloc()) != OUT_OF_INDEXES;) {
        ASSERT_TRUE(taken.insert(index).second) << "index " << index << " handed out twice";
        EXPECT_TRUE(tlsSet(index, valueOf(index)));
    }
    // Beyond the thread block's own slots, as Windows has them.
    ASSERT_GT(taken.size(), pe32::TLS_SLOT_COUNT);
    for (const std::uint32_t index : taken) EXPECT_EQ(tlsGet(index), valueOf(index));
    // A freed index is the one handed out again, and holds nothing then.
    const std::uint32_t freed = *taken.rbegin();
    EXPECT_TRUE(tlsFree(freed));
    EXPECT_FALSE(tlsFree(freed)) << "freed twice";
    EXPECT_EQ(tlsAlloc(), freed);
    EXPECT_EQ(tlsGet(freed), nullptr);
    for (const std::uint32_t index : taken) EXPECT_TRUE(tlsFree(index));
}

// Destroyed after the runtime's own statics, since it was made before them:
// a DLL kept here unloads while the process exits.
std::unique_ptr<pe32::Image> keptUntilExit;

TEST(Pe32LoaderTest, ADllKeptUntilTheProcessExitsUnloadsCleanly) {
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            keptUntilExit = std::make_unique<pe32::Image>(PE32_PROBE_PATH);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

std::vector<char> ReadModule() {
    std::ifstream in(TAMBERLO_MODULE_PATH, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A little-endian field of a file, of 2 or 4 bytes.
std::uint32_t Get(const std::vector<char> &file, std::size_t at, std::size_t width) {
    std::uint32_t value = 0;
    std::memcpy(&value, file.data() + at, width);
    return value;
}

std::size_t PeHeader(const std::vector<char> &file) {
    return Get(file, 0x3c, 4);
}

// A copy of the module with one field of its headers set: the headers are
// refused for the reason given, or read where none is given. Each bound is
// moved exactly to its limit, the end of the image or of the file, and then
// one byte past it.
TEST(Pe32LoaderTest, ChecksEachHeaderFieldAndEachBoundAtItsLimitAndOneBytePast) {
    const std::vector<char> module = ReadModule();
    const pe32::Headers headers = pe32::ReadHeaders(std::as_bytes(std::span(module)));
    const std::size_t coff = PeHeader(module) + 4;
    const std::size_t optional = coff + 20;
    const std::size_t sectionTable = optional + Get(module, coff + 16, 2);
    const std::uint32_t characteristics = Get(module, coff + 18, 2);
    const std::uint32_t imageEnd = headers.imageSize;
    const auto fileEnd = static_cast<std::uint32_t>(module.size());
    struct Change {
        std::string what;
        std::size_t at, width;
        std::uint32_t value;
        std::string refusal;
    };
    std::vector<Change> changes = {
        {"machine ARM", coff, 2, 0x1c0, "built for machine 0x1c0"},
        {"machine x86-64", coff, 2, 0x8664, "a 64-bit DLL"},
        {"magic PE32+", optional, 2, 0x20b, "a 64-bit DLL"},
        {"magic of a ROM image", optional, 2, 0x107, "not a PE32 optional header"},
        {"a program", coff + 18, 2, characteristics & ~0x2000u, "not a DLL"},
        {"unfinished", coff + 18, 2, characteristics & ~0x0002u, "not an executable image"},
        {"only the DLL and executable flags", coff + 18, 2, 0x2002, ""},
        {"entry point on the last byte", optional + 16, 4, imageEnd - 1, ""},
        {"entry point past the image", optional + 16, 4, imageEnd, "the entry point"},
    };
    const auto bound = [&](const std::string &what, std::size_t at, std::uint32_t atLimit,
                           const std::string &refusal) {
        changes.push_back({what + " at its limit", at, 4, atLimit, ""});
        changes.push_back({what + " one byte past", at, 4, atLimit + 1, refusal});
    };
    for (std::size_t i = 0; i < headers.sections.size(); ++i) {
        const pe32::Section &section = headers.sections[i];
        const std::string name = "section " + std::to_string(i + 1) + " (" + section.name + ")";
        const std::size_t at = sectionTable + 40 * i;
        // Its size in the image, then its start in the file.
        bound(name + " in the image", at + 8, imageEnd - section.rva,
              name + " lies outside the image");
        if (section.CopiedSize() != 0)
            bound(name + " in the file", at + 20, fileEnd - section.CopiedSize(),
                  "truncated: " + name);
    }
    // Each directory's size, by its index in the optional header.
    const struct {
        const char *name;
        std::size_t index;
        pe32::Directory directory;
    } directories[] = {{"export", 0, headers.exports},
                       {"import", 1, headers.imports},
                       {"base relocation", 5, headers.relocations},
                       {"TLS", 9, headers.tls}};
    for (const auto &[name, index, directory] : directories) {
        ASSERT_TRUE(directory.present()) << name;
        const std::string what = std::string("the ") + name + " directory";
        bound(what, optional + 96 + 8 * index + 4, imageEnd - directory.rva,
              what + " lies outside the image");
    }

    for (const Change &change : changes) {
        SCOPED_TRACE(change.what);
        std::vector<char> file = module;
        std::memcpy(file.data() + change.at, &change.value, change.width);
        try {
            pe32::ReadHeaders(std::as_bytes(std::span(file)));
            EXPECT_EQ(change.refusal, "") << "accepted";
        } catch (const pe32::FormatError &error) {
            EXPECT_TRUE(!change.refusal.empty() &&
                        std::string(error.what()).find(change.refusal) != std::string::npos)
                << error.what();
        }
    }
}

TEST(Pe32LoaderTest, RefusesWhatItCannotRunWithTheReasonAndLeavesNothingMapped) {
    const std::vector<char> module = ReadModule();
    ASSERT_GT(module.size(), 4096u);
    struct Refusal {
        const char *what;
        std::vector<char> file;
        const char *reason;
    };
    std::vector<Refusal> refusals = {
        {"text", {'p', 'l', 'a', 'i', 'n', '\n'}, "not a PE file"},
        {"headers cut", {module.begin(), module.begin() + 200}, "truncated"},
        {"sections cut", {module.begin(), module.begin() + 4096}, "truncated: section 1 (.text)"},
        {"unknown import", module, "KERNEL32.dll!GetCurrentThreadIe"},
    };
    std::vector<char> &unknown = refusals[3].file;
    const std::string name = "GetCurrentThreadId";
    const auto found = std::search(unknown.begin(), unknown.end(), name.begin(), name.end());
    ASSERT_NE(found, unknown.end());
    found[name.size() - 1] = 'e';

    for (const Refusal &refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        const std::string path = ::testing::TempDir() + "refused.p";
        std::ofstream(path, std::ios::binary)
            .write(refusal.file.data(), static_cast<std::streamsize>(refusal.file.size()));
        try {
            pe32::Image image(path);
            ADD_FAILURE() << "loaded";
        } catch (const pe32::LoadError &error) {
            EXPECT_NE(std::string(error.what()).find(refusal.reason), std::string::npos)
                << error.what();
        }
        EXPECT_FALSE(pe32::IsLoaded("refused.p"));
        std::remove(path.c_str());
    }
    // Nothing of the refused copies holds the module's preferred base.
    const pe32::Image loaded(TAMBERLO_MODULE_PATH);
    EXPECT_FALSE(loaded.Relocated());
}

TEST(Pe32LoaderTest, AnImportItDoesNotProvideStopsTheRunNamingItself) {
    EXPECT_FALSE(pe32::RuntimeProvides("KERNEL32.dll", "LoadLibraryA"));
    EXPECT_TRUE(pe32::RuntimeProvides("kernel32.DLL", "TlsAlloc"));
    EXPECT_EQ(pe32::RuntimeImport("KERNEL32.dll", "CreateFileA"), nullptr);
    const auto load =
        reinterpret_cast<void (*)()>(pe32::RuntimeImport("KERNEL32.dll", "LoadLibraryA"));
    ASSERT_NE(load, nullptr);
    // Fork only: the emulator that may run this program cannot run it again.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_DEATH(load(), "KERNEL32.dll!LoadLibraryA");
}

}  // namespace
