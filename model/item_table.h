// model/: the module's plain data and rules, which never call the host.
//
// The snapshot of the selected items and their channels that one copy or
// paste activation works on.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "host/host_api.h"
#include "model/fixed_array.h"
#include "model/names.h"

namespace tamberlo {

struct ChannelRecord {
    std::array<char, CHANNEL_NAME_FIELD> name{};
    host::ChannelId channelId = nullptr;
    std::uint8_t enabled = 1;  // whether the channel takes part in a copy
};

struct ItemRecord {
    host::ItemId itemId = nullptr;
    std::array<char, ITEM_NAME_FIELD> name{};
    host::ChannelGroupId channelGroup = nullptr;
    // Sized by the counting walk; `channelCount` records how many the filling
    // walk met, which a well-behaved host makes equal to the array's length.
    FixedArray<ChannelRecord> channelArray;
    std::int32_t channelCount = 0;

    std::span<ChannelRecord> Channels() { return channelArray.view().first(channelCount); }
    std::span<const ChannelRecord> Channels() const {
        return channelArray.view().first(channelCount);
    }
};

// One record per selected item, in the reverse of the selection order.
class ItemTable {
  public:
    ItemTable() = default;
    explicit ItemTable(std::size_t count) : records_(count) {}

    std::size_t size() const { return records_.size(); }
    std::span<ItemRecord> Records() { return records_.view(); }
    std::span<const ItemRecord> Records() const { return records_.view(); }
    ItemRecord &operator[](std::size_t index) { return records_[index]; }
    const ItemRecord &operator[](std::size_t index) const { return records_[index]; }

  private:
    FixedArray<ItemRecord> records_;
};

}  // namespace tamberlo
