#include "copy/capture.h"

#include <utility>

#include "model/frames.h"
#include "module/controls.h"

namespace tamberlo {

namespace {

// Calls `visit(key, frame)` for each key of the envelope, in the host's order.
template <typename Visit>
void WalkKeys(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope,
              double framesPerSecond, Visit &&visit) {
    for (host::KeyId key = envelopes.nextKey(envelope, nullptr); key != nullptr;
         key = envelopes.nextKey(envelope, key)) {
        double time = 0.0;
        envelopes.keyGet(envelope, key, host::LWKEY_TIME, &time);
        if (!visit(key, FrameOf(time, framesPerSecond))) break;
    }
}

std::int32_t CountEnabled(const ItemRecord &record) {
    std::int32_t enabled = 0;
    for (const ChannelRecord &channel : record.Channels())
        if (channel.enabled != 0) ++enabled;
    return enabled;
}

}  // namespace

void CaptureKey(const host::EnvelopeFuncs &envelopes, ClipKey &key, host::EnvelopeId envelope,
                host::KeyId keyId, std::int32_t frame) {
    key.frame = frame;
    envelopes.keyGet(envelope, keyId, host::LWKEY_VALUE, &key.value);
    envelopes.keyGet(envelope, keyId, host::LWKEY_TIME, &key.time);
    for (int tag = host::LWKEY_SHAPE; tag <= host::LWKEY_PARAM_3; ++tag)
        envelopes.keyGet(envelope, keyId, tag, key.parameters[tag - host::LWKEY_SHAPE].data());
    // The attribute getter takes the key where it declares a channel group.
    const auto keyAsGroup = reinterpret_cast<host::ChannelGroupId>(keyId);
    for (int attribute = 0; attribute < host::ENVELOPE_ATTRIBUTE_COUNT; ++attribute)
        envelopes.egGet(envelope, keyAsGroup, attribute, &key.attributes[attribute]);
}

void CaptureMotion(CopySession &session) {
    const HostServices &services = session.services;
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    const host::EnvelopeFuncs &envelopes = *services.envelopes;
    const ItemTable &table = *session.table;
    const double fps = session.framesPerSecond;

    ClipContent content;
    content.firstFrame = GetValue(session.startFrameControl);
    content.lastFrame = GetValue(session.endFrameControl);
    const FrameRange range{content.firstFrame, content.lastFrame};

    // The old content goes before anything new is allocated; from here until
    // the install the clipboard is empty, so a failure leaves it empty.
    MotionClipboard &clipboard = Clipboard();
    clipboard.Release();

    content.items = FixedArray<ClipItem>(table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ItemRecord &record = table[i];
        ClipItem &item = content.items[i];
        item.channelArray = FixedArray<ClipChannel>(static_cast<std::size_t>(CountEnabled(record)));
        std::size_t slot = 0;
        for (const ChannelRecord &source : record.Channels()) {
            if (source.enabled == 0) continue;
            ClipChannel &channel = item.channelArray[slot++];
            channel.name = source.name;
            channel.channelType = channelInfo.channelType(source.channelId);
            channel.envelope = channelInfo.channelEnvelope(source.channelId);
            std::int32_t inRange = 0;
            if (channel.envelope != nullptr) {
                WalkKeys(envelopes, channel.envelope, fps, [&](host::KeyId, auto frame) {
                    if (range.Contains(frame)) ++inRange;
                    return true;
                });
            }
            if (inRange > 0)
                channel.keyArray = FixedArray<ClipKey>(static_cast<std::size_t>(inRange));
        }
        item.channelCount = static_cast<std::int32_t>(slot);
    }

    for (ClipItem &item : content.items) {
        for (ClipChannel &channel : item.channelArray) {
            if (channel.keyArray.empty()) continue;
            // Never write past the array, even if the host now yields more
            // keys than it counted; the count follows what was written.
            std::size_t written = 0;
            WalkKeys(envelopes, channel.envelope, fps, [&](host::KeyId key, auto frame) {
                if (!range.Contains(frame)) return true;
                CaptureKey(envelopes, channel.keyArray[written++], channel.envelope, key, *frame);
                return written < channel.keyArray.size();
            });
            channel.keyCount = static_cast<std::int32_t>(written);
        }
    }

    content.frameSpan = static_cast<std::int64_t>(content.lastFrame) - content.firstFrame;
    clipboard.Install(std::move(content));

    services.panels->destroy(session.panel);
    session.panel = nullptr;
}

}  // namespace tamberlo
