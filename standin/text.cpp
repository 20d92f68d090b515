// Conversion between the module's CP932 text and the UTF-8 that tests and
// programs read. Text that does not convert is replaced, never refused: a
// transcript with a replacement mark says more than a conversion error.
#include "standin/text.h"

#include <algorithm>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#endif

namespace standin {

namespace {

constexpr std::string_view CP932_REPLACEMENT = "?";

// Both encodings agree on plain ASCII, which is most text; it needs no work.
bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

constexpr std::string_view UTF8_REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

// Length of the UTF-8 sequence at the start of `text`, or 1 when it is not a
// well-formed sequence, so that a bad byte is skipped on its own.
std::size_t Utf8SequenceLength(const char *text, std::size_t available) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length > available) return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
    return length;
}

#if defined(_WIN32)

constexpr UINT CP932 = 932;

// Left to itself, Windows reads bytes it cannot convert as a character of its
// choice (a middle dot, a private-use character) and writes one '?' per UTF-16
// unit, two for a character beyond the BMP. Text is therefore converted one
// character at a time, and each failure gets the replacement that the iconv
// conversion of the other builds gives it.

// Bytes to which CP932 assigns no character. Windows reads them anyway, as
// U+0080 and private-use characters, only so that they survive a round trip.
bool IsUnassignedCp932Byte(unsigned char byte) {
    return byte == 0x80 || byte == 0xA0 || byte >= 0xFD;
}

// One character in `codePage` as UTF-16, or nothing when it does not convert.
std::wstring WideFromCharacter(std::string_view bytes, UINT codePage) {
    wchar_t wide[4];
    const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                           static_cast<int>(bytes.size()), wide, 4);
    return std::wstring(wide, static_cast<std::size_t>(std::max(length, 0)));
}

std::string Utf8FromWide(const std::wstring &wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

// Characters without a code of their own in CP932 that iconv, and so the
// other builds, still write as the code of a near twin, which then reads back
// as the twin (0x8160 as U+FF5E, not U+301C): the JIS forms of the wave dash,
// the yen sign, the overline and a few more. Both builds write them alike.
struct OneWayMapping {
    wchar_t character;
    std::string_view bytes;
};
constexpr OneWayMapping ONE_WAY_MAPPINGS[] = {
    {L'\x00A2', "\x81\x91"}, {L'\x00A3', "\x81\x92"}, {L'\x00A5', "\x5C"},
    {L'\x00AC', "\x81\xCA"}, {L'\x2014', "\x81\x5C"}, {L'\x2016', "\x81\x61"},
    {L'\x203E', "\x7E"},     {L'\x2212', "\x81\x7C"}, {L'\x301C', "\x81\x60"},
};

// One character, as UTF-16, in CP932; empty when CP932 lacks it. No best fit:
// a look-alike would not read back as the character it stands for.
std::string Cp932FromCharacter(const std::wstring &wide) {
    for (const OneWayMapping &mapping : ONE_WAY_MAPPINGS)
        if (wide.size() == 1 && wide[0] == mapping.character) return std::string(mapping.bytes);
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int length =
        WideCharToMultiByte(CP932, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                            bytes, sizeof bytes, nullptr, &usedDefault);
    if (length <= 0 || usedDefault) return {};
    if (length == 1 && IsUnassignedCp932Byte(static_cast<unsigned char>(bytes[0]))) return {};
    return std::string(bytes, static_cast<std::size_t>(length));
}

#else

std::size_t OneByte(const char *, std::size_t) {
    return 1;
}

// One iconv conversion direction, opened once per thread and closed with it.
class Converter {
  public:
    Converter(const char *to, const char *from) : handle_(iconv_open(to, from)) {
        if (handle_ == INVALID)
            throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " +
                                     to);
    }
    ~Converter() { iconv_close(handle_); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts all of `input`; an unreadable or unrepresentable character
    // becomes `replacement`, and `skip` says how many input bytes it spans.
    std::string Convert(std::string_view input, std::string_view replacement,
                        std::size_t (*skip)(const char *, std::size_t)) {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        std::string output;
        output.reserve(input.size() * 3 / 2);
        // iconv's interface takes a non-const input pointer but never writes
        // through it.
        char *in = const_cast<char *>(input.data());
        std::size_t inLeft = input.size();
        std::array<char, 1024> buffer;
        while (inLeft > 0) {
            char *out = buffer.data();
            std::size_t outLeft = buffer.size();
            const std::size_t result = iconv(handle_, &in, &inLeft, &out, &outLeft);
            output.append(buffer.data(), static_cast<std::size_t>(out - buffer.data()));
            if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            if (errno != EILSEQ && errno != EINVAL)
                throw std::runtime_error("iconv failed while converting text");
            output += replacement;
            const std::size_t skipped = skip(in, inLeft);
            in += skipped;
            inLeft -= skipped;
            iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        }
        return output;
    }

  private:
    static inline const iconv_t INVALID = reinterpret_cast<iconv_t>(-1);
    iconv_t handle_;
};

#endif

}  // namespace

std::string Utf8FromCp932(std::string_view cp932) {
    if (IsAscii(cp932)) return std::string(cp932);
#if defined(_WIN32)
    std::wstring wide;
    std::size_t at = 0;
    while (at < cp932.size()) {
        const auto lead = static_cast<unsigned char>(cp932[at]);
        const std::size_t length = IsDBCSLeadByteEx(CP932, lead) ? 2 : 1;
        const std::wstring character = length > cp932.size() - at || IsUnassignedCp932Byte(lead)
                                           ? std::wstring()
                                           : WideFromCharacter(cp932.substr(at, length), CP932);
        if (character.empty()) {
            wide += L'\xFFFD';
            at += 1;
        } else {
            wide += character;
            at += length;
        }
    }
    return Utf8FromWide(wide);
#else
    thread_local Converter converter("UTF-8", "CP932");
    return converter.Convert(cp932, UTF8_REPLACEMENT, OneByte);
#endif
}

std::string Cp932FromUtf8(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
#if defined(_WIN32)
    std::string cp932;
    std::size_t at = 0;
    while (at < utf8.size()) {
        const std::size_t length = Utf8SequenceLength(utf8.data() + at, utf8.size() - at);
        const std::wstring character = WideFromCharacter(utf8.substr(at, length), CP_UTF8);
        const std::string bytes = character.empty() ? std::string() : Cp932FromCharacter(character);
        cp932 += bytes.empty() ? CP932_REPLACEMENT : std::string_view(bytes);
        at += length;
    }
    return cp932;
#else
    thread_local Converter converter("CP932", "UTF-8");
    return converter.Convert(utf8, CP932_REPLACEMENT, Utf8SequenceLength);
#endif
}

}  // namespace standin
