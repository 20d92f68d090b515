// The stand-in Layout host: it holds a scene, offers the animation, message
// and panel services over it, shows panels to a scripted user and activates
// the servers of loaded modules.
//
// One Host is "current" at a time: the services are plain C tables, so their
// functions find the host they serve through Host::Current(). A Host becomes
// current when it is built and when it activates a server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host_api.h"
#include "standin/contract.h"
#include "standin/loader.h"
#include "standin/panels.h"
#include "standin/scene.h"

namespace standin {

// One service call, for tests that check call order.
struct TraceEntry {
    std::string service;    // e.g. "global", "Animation Envelopes", "LWPanelServices", "control"
    std::string operation;  // e.g. "LW Item Info 3", "nextKey", "set"
    std::string arguments;  // a readable rendering of the arguments
};

class Host {
  public:
    Host();
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // Inline: every service call asks, millions of times in a long walk.
    static Host *Current() { return current_; }
    void MakeCurrent() { current_ = this; }

    standin::Scene &Scene() { return scene_; }
    const standin::Scene &Scene() const { return scene_; }
    ScriptedUser &User() { return user_; }
    Misbehaviour &Misbehave() { return scene_.Misbehave(); }

    // The lookup function handed to modules: finds services by exact name,
    // null for an unknown name.
    host::GlobalFunc Global() const;

    // Activates a server of a loaded module; throws LoadError for an unknown
    // server name.
    int Activate(const LoadedModule &module, std::string_view server,
                 int version = host::LAYOUT_GENERIC_VERSION, void *local = nullptr);

    // Messages shown through "Info Messages 2": both lines, as bytes.
    const std::vector<std::pair<std::string, std::string>> &Errors() const { return errors_; }
    void ClearErrors() { errors_.clear(); }

    // Panels the module created, in creation order.
    const std::vector<PanelRecord> &Panels() const { return panels_; }
    std::size_t LivePanelCount() const;

    // What a user saw, in UTF-8: panels, controls, lists read, messages.
    const std::vector<std::string> &Transcript() const { return transcript_; }
    void Say(std::string line) { transcript_.push_back(std::move(line)); }

    // Trace of every service call, when enabled.
    void EnableTrace(bool on) { tracing_ = on; }
    bool Tracing() const { return tracing_; }
    const std::vector<TraceEntry> &Trace() const { return trace_; }
    void ClearTrace() { trace_.clear(); }
    // Adds one entry while tracing; the arguments are rendered only then,
    // since walks over millions of keys pass through here.
    template <typename RenderArguments>
    void Record(const char *service, const char *operation, RenderArguments &&renderArguments) {
        if (tracing_) trace_.push_back(TraceEntry{service, operation, renderArguments()});
        if (++calls_ == nextObservation_) ObserveCalls();
    }

    // Calls `observe` with the number of service calls so far after every
    // `every` calls (none for a null `observe`), so that a program can show
    // how far a long command has come. Whatever `observe` throws is dropped:
    // it would otherwise unwind through the module.
    void ObserveCalls(std::uint64_t every, std::function<void(std::uint64_t calls)> observe);
    std::uint64_t CallCount() const { return calls_; }

    // Breaches of the host contract by the modules this host served, in the
    // order they happened; each also went to the violation handler.
    const std::vector<Violation> &Violations() const { return violations_; }
    void ClearViolations() { violations_.clear(); }
    // Records a breach of `rule` by the call `service`/`operation`.
    void Violate(Rule rule, const char *service, const char *operation, std::string arguments);

    // The host's sides of the services, known only to the stand-in's sources.
    struct Services;
    struct PanelState;

  private:
    friend struct Services;
    friend struct PanelState;
    standin::Scene scene_;
    ScriptedUser user_;
    std::vector<std::pair<std::string, std::string>> errors_;
    std::vector<PanelRecord> panels_;
    std::vector<std::string> transcript_;
    std::vector<TraceEntry> trace_;
    std::vector<Violation> violations_;
    bool tracing_ = false;
    std::uint64_t calls_ = 0;
    std::uint64_t nextObservation_ = 0;  // 0: never, as counting starts at 1
    std::uint64_t observeEvery_ = 0;
    std::function<void(std::uint64_t)> observer_;
    void ObserveCalls() noexcept;
    std::unique_ptr<PanelState> panelState_;
    // The services are C tables without a context argument; this is how
    // their functions find the host they serve.
    static inline Host *current_ = nullptr;
};

}  // namespace standin
