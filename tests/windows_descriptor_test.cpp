// The descriptor as Layout, a 32-bit Windows program, reads it out of the DLL:
// six 32-bit words, and server records of four 32-bit words each. The words
// are read straight from the loaded image rather than through host_api.h's
// records, so that a layout the header and the module agreed on, but Layout
// would not, still shows here.
#include <windows.h>

#include <cstdint>

#include "tests/module_fixture.h"

namespace tamberlo_test {
namespace {

using Word32 = std::uint32_t;

constexpr std::size_t DESCRIPTOR_WORDS = 6;
constexpr std::size_t SERVER_RECORD_WORDS = 4;

class WindowsDescriptorTest : public ModuleTest {
  protected:
    void SetUp() override {
        ModuleTest::SetUp();
        // A second reference to the library the loader opened: the same image.
        library = LoadLibraryA(ModulePath().c_str());
        ASSERT_NE(library, nullptr) << "error " << GetLastError();
        const auto base = reinterpret_cast<const unsigned char *>(library);
        const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
        ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
        headers = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
        ASSERT_EQ(headers->Signature, IMAGE_NT_SIGNATURE);
        imageStart = reinterpret_cast<Word32>(base);
        imageEnd = imageStart + headers->OptionalHeader.SizeOfImage;
    }
    void TearDown() override {
        if (library != nullptr) FreeLibrary(library);
        ModuleTest::TearDown();
    }

    const Word32 *DescriptorWords() const {
        return reinterpret_cast<const Word32 *>(GetProcAddress(library, "_mod_descrip"));
    }
    bool InImage(Word32 address) const { return address >= imageStart && address < imageEnd; }
    static const char *Text(Word32 address) { return reinterpret_cast<const char *>(address); }

    HMODULE library = nullptr;
    const IMAGE_NT_HEADERS32 *headers = nullptr;
    Word32 imageStart = 0;
    Word32 imageEnd = 0;
};

TEST_F(WindowsDescriptorTest, RecordsHaveTheWidthsOfThe32BitHost) {
    EXPECT_EQ(sizeof(void *), 4u);
    EXPECT_EQ(sizeof(host::ModuleDescriptor), DESCRIPTOR_WORDS * sizeof(Word32));
    EXPECT_EQ(sizeof(host::ModuleDescriptor), 24u);
    EXPECT_EQ(sizeof(host::ServerRecord), SERVER_RECORD_WORDS * sizeof(Word32));
    EXPECT_EQ(sizeof(host::ServerRecord), 16u);
}

TEST_F(WindowsDescriptorTest, ImageIsA32BitX86Dll) {
    EXPECT_EQ(headers->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_NE(headers->FileHeader.Characteristics & IMAGE_FILE_DLL, 0);
    EXPECT_EQ(headers->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
}

TEST_F(WindowsDescriptorTest, ExportIsTheDescriptorTheLoaderRead) {
    const Word32 *words = DescriptorWords();
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(static_cast<const void *>(words), static_cast<const void *>(&module->Descriptor()));
    EXPECT_TRUE(InImage(reinterpret_cast<Word32>(words)));
}

TEST_F(WindowsDescriptorTest, SixWordsHoldSyncVersionMachineAndThreePointersIntoTheModule) {
    const Word32 *words = DescriptorWords();
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(words[0], 0x04121994u);
    EXPECT_EQ(words[1], 3u);
    EXPECT_EQ(words[2], 0x300u);
    for (std::size_t i = 3; i < DESCRIPTOR_WORDS; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(InImage(words[i])) << std::hex << words[i];
    }
    // The startup word is the function the host calls; its result says "started".
    ASSERT_TRUE(InImage(words[3]));
    const auto startup = reinterpret_cast<void *(*)()>(words[3]);
    EXPECT_EQ(reinterpret_cast<Word32>(startup()), 4u);
}

TEST_F(WindowsDescriptorTest, ServerRecordsAreFourWordsEachEndedByAZeroRecord) {
    const Word32 *words = DescriptorWords();
    ASSERT_NE(words, nullptr);
    ASSERT_TRUE(InImage(words[5])) << std::hex << words[5];
    const Word32 *records = reinterpret_cast<const Word32 *>(words[5]);
    const char *const names[] = {COPY, PASTE, SAVE, LOAD};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        const Word32 *record = records + i * SERVER_RECORD_WORDS;
        ASSERT_TRUE(InImage(record[0]));
        ASSERT_TRUE(InImage(record[1]));
        EXPECT_STREQ(Text(record[0]), host::LAYOUT_GENERIC_CLASS);
        EXPECT_STREQ(Text(record[1]), names[i]);
        ASSERT_TRUE(InImage(record[2]));
        EXPECT_EQ(record[3], 0u);
        // The activation word is the function: a wrong version is refused at
        // once, before the host is asked for anything.
        const auto activate = reinterpret_cast<host::ActivateFunc>(record[2]);
        EXPECT_EQ(activate(1, nullptr, nullptr, nullptr), host::AFUNC_BADVERSION);
    }
    const Word32 *end = records + 4 * SERVER_RECORD_WORDS;
    for (std::size_t i = 0; i < SERVER_RECORD_WORDS; ++i) EXPECT_EQ(end[i], 0u) << i;
}

}  // namespace
}  // namespace tamberlo_test
