// Panels as the user sees them: the controls of an open panel, the scripted
// user who acts on them, and the record of every panel a module created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct ControlView {
    std::string typeName;  // "NumControl", ...
    std::string label;     // UTF-8
    std::string labelBytes;
    int valueType = 0;  // descriptor type
    std::intptr_t value = 0;
    int drawMode = 0;  // last draw mode, 0 when never drawn by the module
    std::vector<int> drawHistory;
    bool hasEvent = false;
    bool hasUserData = false;
    std::vector<std::string> choices;  // popup entries, UTF-8
    int width = 0;
    int visibleRows = 0;
};

// The user's view of one open panel. Actions act as a user would: they change
// the control's value and raise its event handler, if it has one.
class PanelSession {
  public:
    virtual ~PanelSession() = default;
    virtual std::string Title() const = 0;  // UTF-8
    virtual std::vector<ControlView> Controls() const = 0;
    virtual ControlView Control(std::string_view label) const = 0;  // throws when absent
    // What a list shows now: the rows from the latest draw (UTF-8, and bytes).
    virtual std::vector<std::string> Rows(std::string_view label) const = 0;
    virtual std::vector<std::string> RowBytes(std::string_view label) const = 0;
    virtual void Pick(std::string_view label, int row) = 0;       // list
    virtual void SetBool(std::string_view label, bool on) = 0;    // switch
    virtual void Flip(std::string_view label) = 0;                // switch
    virtual void Choose(std::string_view label, int choice) = 0;  // popup
    virtual void Type(std::string_view label, int number) = 0;    // number
};

enum class PanelOutcome { Confirm, Cancel };

// A declarative step of a scripted user, for programs that read scripts.
struct UserAction {
    enum class Kind { ReadList, Pick, Flip, SetBool, Choose, Type, Confirm, Cancel };
    Kind kind = Kind::Confirm;
    std::string label;  // UTF-8
    int value = 0;
};

// For each panel that opens, in turn, the next script runs; a panel that opens
// with no script left is cancelled (and the transcript says so).
class ScriptedUser {
  public:
    using Script = std::function<PanelOutcome(PanelSession &)>;
    void Then(Script script);
    void Then(std::vector<UserAction> actions);
    bool HasScript() const { return !scripts_.empty(); }
    std::size_t Pending() const { return scripts_.size(); }
    Script Next();

  private:
    std::vector<Script> scripts_;
};

// A record of one panel that the module created.
struct PanelRecord {
    std::string title;  // UTF-8
    std::string titleBytes;
    bool opened = false;
    int openFlags = 0;
    bool destroyed = false;
    std::optional<PanelOutcome> outcome;
    std::vector<ControlView> controlsAtOpen;
};

}  // namespace standin
