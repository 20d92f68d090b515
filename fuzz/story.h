// What one fuzz input did, told as it runs and printed with the difference
// that ends it; and the words the story is told in.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace fuzz {

using Slot = host::KeySlot;
using Parameters = host::KeyRawSlots;
using Attributes = std::array<int, 3>;

constexpr std::int32_t LOWEST = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t HIGHEST = std::numeric_limits<std::int32_t>::max();

// What the current input has done so far, printed with any difference.
inline std::vector<std::string> story;

inline bool verbose = false;

void Tell(std::string line);

std::string Text(double number);

std::string Text(const Slot &slot);

std::string Text(const Attributes &attributes);

std::string Quoted(const std::string &name);

[[noreturn]] void Fail(const std::string &what, const std::string &detail = "");

template <typename T>
void Expect(const T &actual, const T &expected, const std::string &what) {
    if (!(actual == expected)) Fail(what);
}

}  // namespace fuzz
