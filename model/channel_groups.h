// The groups of channels that the copy panel switches on or off together.
#pragma once

#include <string_view>

namespace tamberlo {

// In the order of the copy panel's group popup.
enum class ChannelGroup { Position, Rotation, Scale, Others, All };

// Whether a channel of this name belongs to the group. The named groups go by
// prefix ("Position.", "Rotation.", "Scale."), case and dot included; the
// others are the channels in none of them.
bool InChannelGroup(std::string_view channelName, ChannelGroup group);

}  // namespace tamberlo
