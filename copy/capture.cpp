#include "copy/capture.h"

#include <utility>

#include "services/keys.h"

namespace tamberlo {

namespace {

std::size_t CountEnabled(const ItemRecord &record) {
    std::size_t enabled = 0;
    for (const ChannelRecord &channel : record.Channels())
        if (channel.enabled != 0) ++enabled;
    return enabled;
}

std::size_t CountEnabled(const ItemTable &table) {
    std::size_t enabled = 0;
    for (const ItemRecord &record : table.Records()) enabled += CountEnabled(record);
    return enabled;
}

}  // namespace

void CaptureMotion(const HostServices &services, const ItemTable &table, std::int32_t firstFrame,
                   std::int32_t lastFrame, double framesPerSecond, MotionClipboard &clipboard) {
    const host::ChannelInfo &channelInfo = *services.channelInfo;
    const host::EnvelopeFuncs &envelopes = *services.envelopes;
    const FrameRange range{firstFrame, lastFrame};

    // The old content goes before anything new is allocated; from here until
    // the install the clipboard is empty, so a failure leaves it empty.
    clipboard.Release();

    ClipContent content;
    content.firstFrame = firstFrame;
    content.lastFrame = lastFrame;
    content.items = FixedArray<ClipItem>(table.size());
    // The source envelope of every copied channel, in copy order: the counting
    // walk finds them and the filling walk reads their keys. The clipboard
    // outlives the scene's envelopes, so they stay out of it.
    FixedArray<host::EnvelopeId> sources(CountEnabled(table));

    std::size_t source = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ItemRecord &record = table[i];
        ClipItem &item = content.items[i];
        item.channelArray = FixedArray<ClipChannel>(CountEnabled(record));
        std::size_t slot = 0;
        for (const ChannelRecord &enabled : record.Channels()) {
            if (enabled.enabled == 0) continue;
            ClipChannel &channel = item.channelArray[slot++];
            channel.name = enabled.name;
            channel.channelType = channelInfo.channelType(enabled.channelId);
            const host::EnvelopeId envelope = channelInfo.channelEnvelope(enabled.channelId);
            sources[source++] = envelope;
            std::int32_t inRange = 0;
            if (envelope != nullptr) {
                WalkKeys(envelopes, envelope, framesPerSecond,
                         [&](host::KeyId, double, auto frame) {
                             if (range.Contains(frame)) ++inRange;
                             return true;
                         });
            }
            if (inRange > 0)
                channel.keyArray = FixedArray<ClipKey>(static_cast<std::size_t>(inRange));
        }
        item.channelCount = static_cast<std::int32_t>(slot);
    }

    source = 0;
    for (ClipItem &item : content.items) {
        for (ClipChannel &channel : item.channelArray) {
            const host::EnvelopeId envelope = sources[source++];
            if (channel.keyArray.empty()) continue;
            // Never write past the array, even if the host now yields more
            // keys than it counted; the count follows what was written.
            std::size_t written = 0;
            WalkKeys(envelopes, envelope, framesPerSecond,
                     [&](host::KeyId key, double, auto frame) {
                         if (!range.Contains(frame)) return true;
                         ClipKey &copied = channel.keyArray[written++];
                         copied.frame = *frame;
                         ReadKey(envelopes, envelope, key, copied);
                         return written < channel.keyArray.size();
                     });
            channel.keyCount = static_cast<std::int32_t>(written);
        }
    }

    content.frameSpan = static_cast<std::int64_t>(content.lastFrame) - content.firstFrame;
    clipboard.Install(std::move(content));
}

}  // namespace tamberlo
