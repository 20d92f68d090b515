// Keys as the host's envelope services hand them out: one walk over an
// envelope's keys, and one read and one write of everything a copied key
// carries. Capture and paste both go through here.
#pragma once

#include <cstdint>
#include <optional>

#include "host/host_api.h"
#include "model/frames.h"
#include "model/motion_clipboard.h"

namespace tamberlo {

// Calls `visit(key, time, frame)` for each key of the envelope, in the host's
// order, until `visit` returns false. Only the key's time is read on the way.
template <typename Visit>
void WalkKeys(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope,
              double framesPerSecond, Visit &&visit) {
    for (host::KeyId key = envelopes.nextKey(envelope, nullptr); key != nullptr;
         key = envelopes.nextKey(envelope, key)) {
        double time = 0.0;
        envelopes.keyGet(envelope, key, host::LWKEY_TIME, &time);
        const std::optional<std::int32_t> frame = FrameOf(time, framesPerSecond);
        if (!visit(key, time, frame)) break;
    }
}

// Reads every parameter of one key, and its envelope's attributes, into `key`.
void ReadKey(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope, host::KeyId keyId,
             ClipKey &key);

// Gives a just-created key every parameter of the copied key, its time being
// `placedTime`, and the envelope the copied attributes.
void WriteKey(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope, host::KeyId keyId,
              const ClipKey &source, double placedTime);

}  // namespace tamberlo
