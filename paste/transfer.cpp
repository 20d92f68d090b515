#include "paste/transfer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "model/frames.h"
#include "services/keys.h"

namespace tamberlo {

namespace {

const ChannelRecord *FindChannel(const ItemRecord &target, const ClipChannel &copied) {
    for (const ChannelRecord &channel : target.Channels())
        if (std::strcmp(channel.name.data(), copied.name.data()) == 0) return &channel;
    return nullptr;
}

// Collects the envelope's keys inside the window, then destroys them; none is
// destroyed while the walk goes on. Returns false, having destroyed nothing,
// when the list of keys to destroy cannot grow.
bool ClearWindow(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope,
                 const FrameRange &window, double framesPerSecond) {
    std::vector<host::KeyId> doomed;
    try {
        WalkKeys(envelopes, envelope, framesPerSecond, [&](host::KeyId key, double, auto frame) {
            if (window.Contains(frame)) doomed.push_back(key);
            return true;
        });
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (host::KeyId key : doomed) envelopes.destroyKey(envelope, key);
    return true;
}

}  // namespace

void TransferMotion(const HostServices &services, const ItemTable &targets,
                    const ClipContent &content, std::int32_t startFrame, double framesPerSecond) {
    const host::EnvelopeFuncs &envelopes = *services.envelopes;
    // 64-bit arithmetic: the window's end and the shift stay exact for every
    // pair of 32-bit frames.
    const std::int64_t shiftFrames = static_cast<std::int64_t>(startFrame) - content.firstFrame;
    const FrameRange window{startFrame, startFrame + content.frameSpan};
    const std::size_t itemCount = std::min(targets.size(), content.items.size());

    for (std::size_t i = 0; i < itemCount; ++i) {
        const ItemRecord &target = targets[i];
        for (const ClipChannel &copied : content.items[i].Channels()) {
            const ChannelRecord *match = FindChannel(target, copied);
            const host::EnvelopeId envelope =
                match != nullptr
                    ? services.channelInfo->channelEnvelope(match->channelId)
                    : envelopes.create(target.channelGroup, copied.name.data(), copied.channelType);
            // No envelope to paste into: this channel is skipped.
            if (envelope == nullptr) continue;
            if (!ClearWindow(envelopes, envelope, window, framesPerSecond)) continue;
            for (const ClipKey &key : copied.Keys()) {
                // With no shift the key keeps its time exactly (and a frame
                // rate of 0 cannot turn it into 0/0).
                const double placedTime =
                    shiftFrames == 0
                        ? key.time
                        : key.time + static_cast<double>(shiftFrames) / framesPerSecond;
                const host::KeyId created = envelopes.createKey(envelope, placedTime, key.value);
                if (created == nullptr) continue;
                WriteKey(envelopes, envelope, created, key, placedTime);
            }
        }
    }
}

}  // namespace tamberlo
