// The panel services: panels and controls a module builds, and the scripted
// user who looks at an open panel and acts on its controls.
//
// Lists behave as on screen: what the user sees are the rows of the latest
// draw, so a module that changes a list's contents must draw it again before
// the user can see the change. A module setting a control's value never
// raises that control's event; only the user's actions do.
#include <stdexcept>
#include <string>
#include <utility>

#include "standin/host_internal.h"

namespace standin {

namespace {

constexpr const char *PANEL_SERVICES = host::PANEL_SERVICES_NAME;
using host::BOOL_CONTROL;
using host::FILE_BUTTON_CONTROL;
using host::LIST_BOX_CONTROL;
using host::NUM_CONTROL;
using host::POPUP_CONTROL;

bool IsKnownControlType(std::string_view typeName) {
    for (std::string_view known :
         {NUM_CONTROL, LIST_BOX_CONTROL, BOOL_CONTROL, POPUP_CONTROL, FILE_BUTTON_CONTROL})
        if (typeName == known) return true;
    return false;
}

std::string RowsLine(std::string_view label, const std::vector<std::string> &rowBytes) {
    std::string line = "rows of " + std::string(label) + ":";
    if (rowBytes.empty()) return line + " (none)";
    for (std::size_t i = 0; i < rowBytes.size(); ++i)
        line += (i == 0 ? " " : " | ") + Utf8FromCp932(rowBytes[i]);
    return line;
}

std::vector<std::string> Utf8Rows(const std::vector<std::string> &rowBytes) {
    std::vector<std::string> rows;
    rows.reserve(rowBytes.size());
    for (const std::string &row : rowBytes) rows.push_back(Utf8FromCp932(row));
    return rows;
}

}  // namespace

// ---------------------------------------------------------------------------
// Control records.

ControlView Host::PanelState::ControlRecord::View() const {
    ControlView view;
    view.typeName = typeName;
    view.label = label;
    view.labelBytes = labelBytes;
    view.valueType = valueType;
    view.value = value;
    view.drawMode = drawMode;
    view.drawHistory = drawHistory;
    view.hasEvent = event != nullptr;
    view.hasUserData = userData != nullptr;
    for (const std::string &choice : choiceBytes) view.choices.push_back(Utf8FromCp932(choice));
    view.width = width;
    view.visibleRows = visibleRows;
    return view;
}

// The module's name function may reuse one buffer for every row, so each row
// is copied before the next call. A null name shows as an empty row.
void Host::PanelState::ControlRecord::RedrawRows() {
    rowBytes.clear();
    const int count = countFn == nullptr ? 0 : countFn(userData);
    for (int row = 0; row < count; ++row) {
        const char *name = nameFn == nullptr ? nullptr : nameFn(userData, row);
        rowBytes.emplace_back(name == nullptr ? "" : name);
    }
}

// ---------------------------------------------------------------------------
// The user's view of an open panel.

class Host::PanelState::Session : public PanelSession {
  public:
    Session(Host &host, PanelState &state, std::size_t panelIndex, std::string title)
        : host_(host), state_(state), panelIndex_(panelIndex), title_(std::move(title)) {}

    std::string Title() const override { return title_; }

    std::vector<ControlView> Controls() const override {
        std::vector<ControlView> views;
        for (const auto &record : state_.panelControls[panelIndex_])
            views.push_back(record->View());
        return views;
    }

    ControlView Control(std::string_view label) const override { return Find(label).View(); }

    std::vector<std::string> Rows(std::string_view label) const override {
        const ControlRecord &list = FindOfType(label, LIST_BOX_CONTROL);
        host_.Say(RowsLine(label, list.rowBytes));
        return Utf8Rows(list.rowBytes);
    }

    std::vector<std::string> RowBytes(std::string_view label) const override {
        return FindOfType(label, LIST_BOX_CONTROL).rowBytes;
    }

    void Pick(std::string_view label, int row) override {
        ControlRecord &list = Operable(label, LIST_BOX_CONTROL);
        if (!host_.Misbehave().uncheckedUserValues &&
            (row < 0 || static_cast<std::size_t>(row) >= list.rowBytes.size()))
            throw std::out_of_range("list " + std::string(label) + " shows no row " +
                                    std::to_string(row));
        Give(list, row);
        host_.Say("pick " + std::string(label) + " row " + std::to_string(row));
        Raise(list);
    }

    void SetBool(std::string_view label, bool on) override {
        ControlRecord &toggle = Operable(label, BOOL_CONTROL);
        Give(toggle, on ? 1 : 0);
        host_.Say("set " + std::string(label) + (on ? " on" : " off"));
        Raise(toggle);
    }

    void Flip(std::string_view label) override {
        ControlRecord &toggle = Operable(label, BOOL_CONTROL);
        Give(toggle, toggle.value != 0 ? 0 : 1);
        host_.Say("flip " + std::string(label) + (toggle.value != 0 ? " on" : " off"));
        Raise(toggle);
    }

    void Choose(std::string_view label, int choice) override {
        ControlRecord &popup = Operable(label, POPUP_CONTROL);
        const bool inRange =
            choice >= 0 && static_cast<std::size_t>(choice) < popup.choiceBytes.size();
        if (!inRange && !host_.Misbehave().uncheckedUserValues)
            throw std::out_of_range("popup " + std::string(label) + " has no choice " +
                                    std::to_string(choice));
        Give(popup, choice);
        std::string line = "choose " + std::string(label) + " " + std::to_string(choice);
        if (inRange)
            line += " (" + Utf8FromCp932(popup.choiceBytes[static_cast<std::size_t>(choice)]) + ")";
        host_.Say(std::move(line));
        Raise(popup);
    }

    void Type(std::string_view label, int number) override {
        ControlRecord &field = Operable(label, NUM_CONTROL);
        Give(field, number);
        host_.Say("type " + std::string(label) + " " + std::to_string(number));
        Raise(field);
    }

  private:
    ControlRecord &Find(std::string_view label) const {
        for (const auto &record : state_.panelControls[panelIndex_])
            if (record->label == label) return *record;
        throw std::out_of_range("panel " + title_ + " has no control " + std::string(label));
    }

    ControlRecord &FindOfType(std::string_view label, std::string_view typeName) const {
        ControlRecord &record = Find(label);
        if (record.typeName != typeName)
            throw std::logic_error("control " + std::string(label) + " is a " + record.typeName +
                                   ", not a " + std::string(typeName));
        return record;
    }

    // A control the user can change: one the module has not greyed out. No
    // person can act on a greyed-out control, so a script that tries fails.
    ControlRecord &Operable(std::string_view label, std::string_view typeName) const {
        ControlRecord &record = FindOfType(label, typeName);
        if (record.drawMode == host::DR_GHOST)
            throw std::logic_error("control " + std::string(label) +
                                   " is greyed out; no user can change it");
        return record;
    }

    static void Give(ControlRecord &record, std::intptr_t value) {
        record.value = value;
        record.valueGiven = true;
    }

    // The handler may use any service, the controls included.
    static void Raise(ControlRecord &record) {
        if (record.event != nullptr) record.event(&record.control, record.userData);
    }

    Host &host_;
    PanelState &state_;
    std::size_t panelIndex_;
    std::string title_;
};

// ---------------------------------------------------------------------------
// "LWPanelServices". Trace arguments follow the form of the other services;
// control calls show only their tag and value, or their draw mode.

host::PanelId Host::PanelState::Create(const char *title, void *panelData) {
    const auto arguments = [&] {
        return "title=" + RenderText(title) + " data=" +
               (panelData == Services() ? std::string("services") : RenderHandle(panelData));
    };
    Host *host = EnterService(PANEL_SERVICES, "create", arguments);
    if (host == nullptr) return nullptr;
    if (panelData != Services())
        host->Violate(Rule::PanelDataIsTheServiceTable, PANEL_SERVICES, "create", arguments());
    if (host->Misbehave().refusePanel) return nullptr;
    PanelState &state = *host->panelState_;
    const auto id = HandleFromSerial<host::PanelId>(++state.lastPanelSerial);
    PanelRecord record;
    record.titleBytes = title == nullptr ? "" : title;
    record.title = Utf8FromCp932(record.titleBytes);
    host->panels_.push_back(std::move(record));
    state.panelControls.emplace_back();
    state.panelIndex.emplace(id, host->panels_.size() - 1);
    return id;
}

// Destroying a panel twice, or one the host never made, changes nothing but
// the report.
void Host::PanelState::Destroy(host::PanelId panel) {
    const auto arguments = [&] { return "panel=" + RenderHandle(panel); };
    Host *host = EnterService(PANEL_SERVICES, "destroy", arguments);
    if (host == nullptr) return;
    const auto found = host->panelState_->panelIndex.find(panel);
    if (found == host->panelState_->panelIndex.end())
        host->Violate(Rule::KnownIdentifier, PANEL_SERVICES, "destroy", arguments());
    else if (host->panels_[found->second].destroyed)
        host->Violate(Rule::PanelDestroyedOnce, PANEL_SERVICES, "destroy", arguments());
    else
        host->panels_[found->second].destroyed = true;
}

template <typename Render>
std::optional<std::size_t> Host::PanelState::LivePanelOfCall(Host &host, host::PanelId panel,
                                                             const char *operation,
                                                             Render &&render) {
    const auto found = panelIndex.find(panel);
    if (found == panelIndex.end()) {
        host.Violate(Rule::KnownIdentifier, PANEL_SERVICES, operation, render());
        return std::nullopt;
    }
    if (host.panels_[found->second].destroyed) {
        host.Violate(Rule::NoCallOnADestroyedPanel, PANEL_SERVICES, operation, render());
        return std::nullopt;
    }
    // Controls and the panel reach the host's other services through
    // globalFun, which the module must have set for this activation.
    if (Services()->globalFun != GlobalLookup())
        host.Violate(Rule::GlobalFunSetBeforeControls, PANEL_SERVICES, operation, render());
    return found->second;
}

host::Control *Host::PanelState::AddControl(host::PanelId panel, const char *typeName,
                                            host::ControlDescriptor *descriptor,
                                            const char *label) {
    const auto arguments = [&] {
        return "panel=" + RenderHandle(panel) + " type=" + RenderText(typeName) +
               " label=" + RenderText(label);
    };
    Host *host = EnterService(PANEL_SERVICES, "addControl", arguments);
    if (host == nullptr) return nullptr;
    PanelState &state = *host->panelState_;
    const std::optional<std::size_t> index =
        state.LivePanelOfCall(*host, panel, "addControl", arguments);
    if (!index) return nullptr;
    if (typeName == nullptr || !IsKnownControlType(typeName) || descriptor == nullptr ||
        host->Misbehave().refuseControls)
        return nullptr;

    auto record = std::make_unique<ControlRecord>();
    record->control = host::Control{Draw, Get, Set, record.get()};
    record->panelIndex = *index;
    record->typeName = typeName;
    record->labelBytes = label == nullptr ? "" : label;
    record->label = Utf8FromCp932(record->labelBytes);
    record->valueType = descriptor->type;
    // Each type reads only the descriptor fields it uses; the rest may hold
    // anything.
    if (record->typeName == LIST_BOX_CONTROL) {
        record->width = descriptor->shape.width;
        record->visibleRows = descriptor->visibleRows;
        record->countFn = descriptor->countFn;
        record->nameFn = descriptor->nameFn;
    } else if (record->typeName == POPUP_CONTROL) {
        if (descriptor->shape.choices != nullptr)
            for (const char **choice = descriptor->shape.choices; *choice != nullptr; ++choice)
                record->choiceBytes.emplace_back(*choice);
    } else if (record->typeName == FILE_BUTTON_CONTROL) {
        record->width = descriptor->shape.width;
    }

    host::Control *control = &record->control;
    state.controls.emplace(control, record.get());
    state.panelControls[*index].push_back(std::move(record));
    return control;
}

int Host::PanelState::Open(host::PanelId panel, int flags) {
    const auto arguments = [&] {
        return "panel=" + RenderHandle(panel) + " flags=" + std::to_string(flags);
    };
    Host *host = EnterService(PANEL_SERVICES, "open", arguments);
    if (host == nullptr) return 0;
    PanelState &state = *host->panelState_;
    const std::optional<std::size_t> live = state.LivePanelOfCall(*host, panel, "open", arguments);
    if (!live) return 0;
    // The script may make the module create panels, so records are reached by
    // index, never held across it.
    const std::size_t index = *live;
    host->panels_[index].opened = true;
    host->panels_[index].openFlags = flags;

    // The host draws every list as the panel appears; that is not a draw by
    // the module, so the module's draw mode stays as it was.
    // The list callbacks are the module's code, so the control vector is
    // indexed afresh on every turn.
    std::vector<ControlView> views;
    for (std::size_t i = 0; i < state.panelControls[index].size(); ++i) {
        ControlRecord &record = *state.panelControls[index][i];
        if (record.IsList()) record.RedrawRows();
        views.push_back(record.View());
    }
    const std::string title = host->panels_[index].title;
    host->panels_[index].controlsAtOpen = std::move(views);

    host->Say("panel " + title);
    for (const auto &record : state.panelControls[index]) {
        host->Say(record->typeName + " " + record->label);
        if (record->IsList()) host->Say(RowsLine(record->label, record->rowBytes));
    }

    PanelOutcome outcome = PanelOutcome::Cancel;
    if (ScriptedUser::Script script = host->user_.Next(); !script) {
        host->Say("no script for panel " + title + ": cancel");
    } else {
        // A failing script must not unwind through the module's C frames.
        try {
            Session session(*host, state, index, title);
            outcome = script(session);
        } catch (const std::exception &error) {
            host->Say("script for panel " + title + " failed: " + error.what());
            outcome = PanelOutcome::Cancel;
        }
        host->Say(outcome == PanelOutcome::Confirm ? "confirm" : "cancel");
    }
    host->panels_[index].outcome = outcome;
    return outcome == PanelOutcome::Confirm ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Controls. Calls on a control the host does not know, or on one whose panel
// is gone, are reported and otherwise ignored.

template <typename RenderArguments>
Host::PanelState::ControlRecord *Host::PanelState::EnterControl(const host::Control *control,
                                                                const char *operation,
                                                                RenderArguments &&renderArguments) {
    Host *host = EnterService("control", operation, renderArguments);
    if (host == nullptr) return nullptr;
    PanelState &state = *host->panelState_;
    const auto found = state.controls.find(control);
    if (found == state.controls.end()) {
        host->Violate(Rule::KnownIdentifier, "control", operation, renderArguments());
        return nullptr;
    }
    if (host->panels_[found->second->panelIndex].destroyed) {
        host->Violate(Rule::NoCallOnADestroyedPanel, "control", operation, renderArguments());
        return nullptr;
    }
    return found->second;
}

// The value record of every get and set says it holds an integer, whatever
// the control: the host reads and writes the value field by that type.
template <typename RenderArguments>
bool Host::PanelState::CheckValueRecord(const host::ValueRecord *value, const char *operation,
                                        RenderArguments &&renderArguments) {
    if (value != nullptr && value->type == host::LWT_INTEGER) return true;
    if (Host *host = Host::Current(); host != nullptr)
        host->Violate(Rule::ValueRecordIsInteger, "control", operation, renderArguments());
    return false;
}

// "control=" and the control's label, for trace arguments.
std::string Host::PanelState::RenderControl(const host::Control *control) {
    const PanelState &state = *Current()->panelState_;
    const auto found = state.controls.find(control);
    return "control=" + (found == state.controls.end() ? RenderHandle(control)
                                                       : '"' + found->second->label + '"');
}

// A value as the trace shows it: the pointers that user data and handlers
// are differ from run to run, so only whether they are null shows.
std::string Host::PanelState::RenderValue(int tag, const host::ValueRecord *value) {
    if (value == nullptr) return " record=null";
    if (tag == host::CTL_USERDATA || tag == host::CTL_USEREVENT)
        return value->value == 0 ? " value=null" : " value=pointer";
    return " value=" + std::to_string(value->value);
}

void Host::PanelState::Draw(host::Control *control, int mode) {
    ControlRecord *record = EnterControl(
        control, "draw", [&] { return RenderControl(control) + " mode=" + std::to_string(mode); });
    if (record == nullptr) return;
    record->drawMode = mode;
    record->drawHistory.push_back(mode);
    if (record->IsList()) record->RedrawRows();
}

void Host::PanelState::Get(host::Control *control, int tag, host::ValueRecord *value) {
    // A read of a value that neither the module nor the user has given is
    // allowed (it reads the unset marker), and the trace says so.
    const auto arguments = [&] {
        const auto found = Current()->panelState_->controls.find(control);
        const bool unset = tag == host::CTL_VALUE &&
                           found != Current()->panelState_->controls.end() &&
                           !found->second->valueGiven;
        return RenderControl(control) + " tag=" + std::to_string(tag) + (unset ? " unset" : "");
    };
    ControlRecord *record = EnterControl(control, "get", arguments);
    if (record == nullptr || !CheckValueRecord(value, "get", arguments)) return;
    // Only the value field is written: the type field is the module's.
    if (tag == host::CTL_VALUE)
        value->value = record->value;
    else if (tag == host::CTL_USERDATA)
        value->value = reinterpret_cast<std::intptr_t>(record->userData);
    else if (tag == host::CTL_USEREVENT)
        value->value = reinterpret_cast<std::intptr_t>(record->event);
}

void Host::PanelState::Set(host::Control *control, int tag, host::ValueRecord *value) {
    const auto arguments = [&] {
        return RenderControl(control) + " tag=" + std::to_string(tag) + RenderValue(tag, value);
    };
    ControlRecord *record = EnterControl(control, "set", arguments);
    if (record == nullptr || !CheckValueRecord(value, "set", arguments)) return;
    if (tag == host::CTL_VALUE) {
        record->value = value->value;
        record->valueGiven = true;
    } else if (tag == host::CTL_USERDATA) {
        record->userData = reinterpret_cast<void *>(value->value);
    } else if (tag == host::CTL_USEREVENT) {
        record->event = reinterpret_cast<host::EventFunc>(value->value);
    }
}

host::PanelFuncs *Host::PanelState::Services() {
    // Modules receive the table as a mutable pointer, as the host API types it.
    static host::PanelFuncs table{Create, Destroy, Open, AddControl, GlobalLookup()};
    return &table;
}

}  // namespace standin
