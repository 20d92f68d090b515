// The host itself: which host is current, activation of a module's servers,
// and the records every service adds to.
#include <algorithm>

#include "standin/host_internal.h"

namespace standin {

Host::Host() : panelState_(std::make_unique<PanelState>()) {
    MakeCurrent();
}

Host::~Host() {
    if (current_ == this) current_ = nullptr;
}

int Host::Activate(const LoadedModule &module, std::string_view server, int version, void *local) {
    MakeCurrent();
    const ServerInfo *info = module.FindServer(server);
    if (info == nullptr) throw LoadError("no server named \"" + std::string(server) + "\"");
    if (info->activate == nullptr)
        throw LoadError("server \"" + std::string(server) + "\" has no activation function");
    const auto arguments = [&] {
        return "server=\"" + info->name + "\" version=" + std::to_string(version);
    };
    Record("host", "activate", arguments);
    // Each activation finds globalFun empty, so a module that forgets to set
    // it cannot live on what an earlier activation left there.
    PanelState::Services()->globalFun = nullptr;
    const std::size_t panelsBefore = panels_.size();
    const int result = info->activate(version, Global(), local, nullptr);
    for (std::size_t index = panelsBefore; index < panels_.size(); ++index)
        if (!panels_[index].destroyed)
            Violate(Rule::PanelDestroyedBeforeReturn, "host", "activate",
                    arguments() + " panel=\"" + panels_[index].title + "\"");
    return result;
}

std::size_t Host::LivePanelCount() const {
    return static_cast<std::size_t>(std::count_if(
        panels_.begin(), panels_.end(), [](const PanelRecord &panel) { return !panel.destroyed; }));
}

}  // namespace standin
