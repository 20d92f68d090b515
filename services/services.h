// services/: what both commands use of the host, and the texts they show.
//
// The host services one activation works with, fetched once at its start.
#pragma once

#include "host/host_api.h"

namespace tamberlo {

struct HostServices {
    host::GlobalFunc global = nullptr;
    host::ItemInfo *itemInfo = nullptr;
    host::InterfaceInfo *interfaceInfo = nullptr;
    host::PanelFuncs *panels = nullptr;
    host::SceneInfo *sceneInfo = nullptr;
    host::ChannelInfo *channelInfo = nullptr;
    host::EnvelopeFuncs *envelopes = nullptr;
    host::MessageFuncs *messages = nullptr;

    // Whether the host offered every service; a command without all of them
    // cannot run and ends before it touches anything.
    bool Complete() const {
        return itemInfo != nullptr && interfaceInfo != nullptr && panels != nullptr &&
               sceneInfo != nullptr && channelInfo != nullptr && envelopes != nullptr &&
               messages != nullptr;
    }
};

// Looks up the seven services by name, in the order the host expects them,
// each for transient use. The results serve one activation only.
HostServices LookUpServices(host::GlobalFunc global);

}  // namespace tamberlo
