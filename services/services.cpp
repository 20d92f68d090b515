#include "services/services.h"

namespace tamberlo {

namespace {

template <typename Service>
Service *Fetch(host::GlobalFunc global, const char *name) {
    return static_cast<Service *>(global(name, host::GFUSE_TRANSIENT));
}

}  // namespace

HostServices LookUpServices(host::GlobalFunc global) {
    HostServices services;
    services.global = global;
    services.itemInfo = Fetch<host::ItemInfo>(global, host::ITEM_INFO_NAME);
    services.interfaceInfo = Fetch<host::InterfaceInfo>(global, host::INTERFACE_INFO_NAME);
    services.panels = Fetch<host::PanelFuncs>(global, host::PANEL_SERVICES_NAME);
    services.sceneInfo = Fetch<host::SceneInfo>(global, host::SCENE_INFO_NAME);
    services.channelInfo = Fetch<host::ChannelInfo>(global, host::CHANNEL_INFO_NAME);
    services.envelopes = Fetch<host::EnvelopeFuncs>(global, host::ENVELOPE_FUNCS_NAME);
    services.messages = Fetch<host::MessageFuncs>(global, host::MESSAGE_FUNCS_NAME);
    return services;
}

}  // namespace tamberlo
