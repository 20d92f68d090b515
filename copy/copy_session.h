// What one copy activation shares between its body and the panel callbacks
// the host calls while the panel is open.
#pragma once

#include <array>
#include <cstdint>

#include "host/host_api.h"
#include "model/item_table.h"
#include "services/services.h"

namespace tamberlo {

struct CopySession {
    HostServices services;

    host::Control *startFrameControl = nullptr;
    host::Control *endFrameControl = nullptr;
    host::Control *itemList = nullptr;
    host::Control *channelList = nullptr;
    host::Control *enabledSwitch = nullptr;
    host::Control *groupPopup = nullptr;
    host::Control *saveSetButton = nullptr;
    host::Control *loadSetButton = nullptr;

    // Null until this activation has built its table: the lists show nothing
    // before then, whatever an earlier activation left.
    ItemTable *table = nullptr;     // one record per selected item
    std::int32_t currentItem = -1;  // the item whose channels the channel list shows
    double framesPerSecond = 0.0;

    std::array<char, 512> channelRowBuffer{};
};

}  // namespace tamberlo
