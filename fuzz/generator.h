// The scene generator: reads a fuzz input into a random small scene, in the
// host and in the model alike, and into the frames, rates, times, values and
// selections the commands are run with.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/model.h"
#include "standin/standin.h"

namespace fuzz {

// Reading the input.

// Mostly frames near the keys, so that ranges and windows cut through them.
std::int32_t PickFrame(FuzzedDataProvider &input);

double PickRate(FuzzedDataProvider &input);

// Times at, beside and between frame boundaries, negative, zero of both
// signs, and far away; always finite, since the host holds no other keys.
double PickTime(FuzzedDataProvider &input, double framesPerSecond);

double PickValue(FuzzedDataProvider &input);

int PickAttribute(FuzzedDataProvider &input);

std::vector<std::size_t> PickSelection(FuzzedDataProvider &input, std::size_t itemCount,
                                       std::size_t length);

std::string Text(const std::vector<std::size_t> &selection);

void BuildScene(FuzzedDataProvider &input, standin::Scene &scene, World &world);

}  // namespace fuzz
