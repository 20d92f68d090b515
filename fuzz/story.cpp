#include "fuzz/story.h"

#include <cstdio>

namespace fuzz {

void Tell(std::string line) {
    story.push_back(std::move(line));
}

std::string Text(double number) {
    char text[80];
    std::snprintf(text, sizeof text, "%.17g [%a]", number, number);
    return text;
}

std::string Text(const Slot &slot) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : slot) {
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0x0F];
    }
    return text;
}

std::string Text(const Attributes &attributes) {
    return std::to_string(attributes[0]) + "," + std::to_string(attributes[1]) + "," +
           std::to_string(attributes[2]);
}

std::string Quoted(const std::string &name) {
    return '"' +
           (name.size() > 24 ? name.substr(0, 12) + "...(" + std::to_string(name.size()) + " bytes)"
                             : name) +
           '"';
}

[[noreturn]] void Fail(const std::string &what, const std::string &detail) {
    std::fprintf(stderr, "\n==== copy and paste differ from the model: %s\n", what.c_str());
    if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
    std::fprintf(stderr, "---- what the input did:\n");
    for (const std::string &line : story) std::fprintf(stderr, "  %s\n", line.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

}  // namespace fuzz
