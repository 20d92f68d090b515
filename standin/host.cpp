// The host itself: which host is current, activation of a module's servers,
// and the records every service adds to.
#include <algorithm>
#include <utility>

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

void Host::ObserveCalls(std::uint64_t every, std::function<void(std::uint64_t calls)> observe) {
    observer_ = std::move(observe);
    observeEvery_ = observer_ ? std::max<std::uint64_t>(every, 1) : 0;
    nextObservation_ = observer_ ? calls_ + observeEvery_ : 0;
}

void Host::ObserveCalls() noexcept {
    nextObservation_ += observeEvery_;
    try {
        observer_(calls_);
    } catch (...) {
        // Only a display was to be updated.
    }
}

std::size_t Host::LivePanelCount() const {
    return static_cast<std::size_t>(std::count_if(
        panels_.begin(), panels_.end(), [](const PanelRecord &panel) { return !panel.destroyed; }));
}

}  // namespace standin
