#include "model/channel_groups.h"

namespace tamberlo {

namespace {

bool InNamedGroup(std::string_view channelName) {
    return channelName.starts_with("Position.") || channelName.starts_with("Rotation.") ||
           channelName.starts_with("Scale.");
}

}  // namespace

bool InChannelGroup(std::string_view channelName, ChannelGroup group) {
    switch (group) {
        case ChannelGroup::Position:
            return channelName.starts_with("Position.");
        case ChannelGroup::Rotation:
            return channelName.starts_with("Rotation.");
        case ChannelGroup::Scale:
            return channelName.starts_with("Scale.");
        case ChannelGroup::Others:
            return !InNamedGroup(channelName);
        case ChannelGroup::All:
            return true;
    }
    return false;
}

}  // namespace tamberlo
