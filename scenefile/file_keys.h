// A channel's keys as the Key lines of a scene file hold them, read from the
// stand-in's scene and put back into it, checked as the file format requires,
// for programs that hand keys to their users and take keys from them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "host/host_api.h"
#include "standin/scene.h"

namespace standin {

// The nine numbers of one Key line, time first, and where the host keeps
// each: LWKEY_TIME and LWKEY_VALUE, the 32-bit shape in the first four bytes
// of the LWKEY_SHAPE slot, and the six parameters, LWKEY_TENSION,
// LWKEY_CONTINUITY, LWKEY_BIAS and LWKEY_PARAM_0 to LWKEY_PARAM_2, as doubles.
struct FileKey {
    double time = 0.0;
    double value = 0.0;
    std::int32_t shape = 0;
    double tension = 0.0;
    double continuity = 0.0;
    double bias = 0.0;
    double param0 = 0.0;
    double param1 = 0.0;
    double param2 = 0.0;
};

// The keys of an envelope in time order, bit for bit as the scene holds them.
std::vector<FileKey> ReadFileKeys(const Scene &scene, host::EnvelopeId envelope);

// Replaces every key of the channel's envelope with `keys`, once all of them are what a
// scene file can hold: finite numbers, a shape 0 to 5, and times in strictly
// increasing order, so that no two keys share a time and the keys read back
// in the order given. Otherwise throws std::invalid_argument, naming the
// first key at fault by its index, and changes nothing.
void ReplaceFileKeys(Scene &scene, const ChannelState &channel, std::span<const FileKey> keys);

// What a channel does before its first key and after its last (envelope
// attributes 0 and 1): 0 reset, 1 constant, 2 repeat, 3 oscillate, 4 offset
// repeat, 5 linear.
struct Behaviours {
    int pre = 0;
    int post = 0;
};

Behaviours EnvelopeBehaviours(const Scene &scene, host::EnvelopeId envelope);
// Throws std::invalid_argument, changing nothing, for a behaviour outside 0 to 5.
void SetEnvelopeBehaviours(Scene &scene, host::EnvelopeId envelope, Behaviours behaviours);

}  // namespace standin
