// Conversion between the module's CP932 text and the UTF-8 that tests and
// programs read. Text that does not convert is replaced, never refused: a
// transcript with a replacement mark says more than a conversion error.
#include <algorithm>
#include <string>
#include <string_view>

#include "standin/standin.h"

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

#if defined(_WIN32)

constexpr UINT CP932 = 932;

std::wstring WideFrom(std::string_view bytes, UINT codePage) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    // Without MB_ERR_INVALID_CHARS the system replaces what it cannot read.
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length > 0) MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length);
    return wide;
}

std::string BytesFrom(const std::wstring &wide, UINT codePage) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    // UTF-8 takes no default character; CP932 gets '?' for what it lacks.
    const char *defaultChar = codePage == CP_UTF8 ? nullptr : CP932_REPLACEMENT.data();
    const int length =
        WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, defaultChar, nullptr);
    std::string bytes(static_cast<std::size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        WideCharToMultiByte(codePage, 0, wide.data(), size, bytes.data(), length, defaultChar,
                            nullptr);
    return bytes;
}

#else

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
    return BytesFrom(WideFrom(cp932, CP932), CP_UTF8);
#else
    thread_local Converter converter("UTF-8", "CP932");
    return converter.Convert(cp932, UTF8_REPLACEMENT, OneByte);
#endif
}

std::string Cp932FromUtf8(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
#if defined(_WIN32)
    return BytesFrom(WideFrom(utf8, CP_UTF8), CP932);
#else
    thread_local Converter converter("CP932", "UTF-8");
    return converter.Convert(utf8, CP932_REPLACEMENT, Utf8SequenceLength);
#endif
}

}  // namespace standin
