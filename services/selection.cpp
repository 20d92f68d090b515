#include "services/selection.h"

namespace tamberlo {

namespace {

std::int32_t CountChannels(const host::ChannelInfo &channels, host::ChannelGroupId group) {
    std::int32_t count = 0;
    for (host::ChannelId channel = channels.nextChannel(group, nullptr); channel != nullptr;
         channel = channels.nextChannel(group, channel))
        ++count;
    return count;
}

void FillChannels(const host::ChannelInfo &channels, ItemRecord &record) {
    // The filling walk stops at the array's end even if the host now yields
    // more channels than it counted, and the count follows what was filled.
    std::int32_t filled = 0;
    const auto capacity = static_cast<std::int32_t>(record.channelArray.size());
    for (host::ChannelId channel = channels.nextChannel(record.channelGroup, nullptr);
         channel != nullptr && filled < capacity;
         channel = channels.nextChannel(record.channelGroup, channel)) {
        ChannelRecord &target = record.channelArray[static_cast<std::size_t>(filled)];
        target.channelId = channel;
        CopyName(target.name, channels.channelName(channel));
        target.enabled = 1;
        ++filled;
    }
    record.channelCount = filled;
}

}  // namespace

std::int32_t CountSelectedItems(const HostServices &services) {
    const host::ItemId *selection = services.interfaceInfo->selItems;
    std::int32_t count = 0;
    if (selection == nullptr) return 0;
    while (selection[count] != nullptr) ++count;
    return count;
}

ItemTable BuildItemTable(const HostServices &services, std::int32_t count) {
    ItemTable table(static_cast<std::size_t>(count));
    const host::ItemId *selection = services.interfaceInfo->selItems;
    for (std::int32_t position = 0; position < count; ++position) {
        ItemRecord &record = table[static_cast<std::size_t>(position)];
        record.itemId = selection[count - 1 - position];
        CopyName(record.name, services.itemInfo->name(record.itemId));
        record.channelGroup = services.itemInfo->chanGroup(record.itemId);
        const std::int32_t channelCount = CountChannels(*services.channelInfo, record.channelGroup);
        record.channelArray = FixedArray<ChannelRecord>(static_cast<std::size_t>(channelCount));
        FillChannels(*services.channelInfo, record);
    }
    return table;
}

}  // namespace tamberlo
