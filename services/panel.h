// The one panel a command shows, and the controls on it.
//
// The host contract hands every control get and set one value record, and
// every addControl one control descriptor; the host reads them during the
// call and keeps no pointer. The module keeps one of each for its whole life,
// as the contract has them, rather than one per call: a control add fills in
// only the descriptor fields its kind of control reads (below, per helper),
// and the other fields keep what the previous add left there, which the host
// ignores.
#pragma once

#include <cstdint>

#include "host/host_api.h"
#include "services/services.h"

namespace tamberlo {

// Creates the command's panel and destroys it when the command ends, however
// it ends. A panel the host refused is null, and the command ends at once.
class ScopedPanel {
  public:
    ScopedPanel(const HostServices &services, const char *title);
    ~ScopedPanel();
    ScopedPanel(const ScopedPanel &) = delete;
    ScopedPanel &operator=(const ScopedPanel &) = delete;

    explicit operator bool() const { return panel_ != nullptr; }

    // Shows the panel until the user closes it, with OK and Cancel; whether
    // the user confirmed.
    bool Show() const;

    // Each adds one control with its label, or returns null when the host
    // cannot. What each sets in the shared descriptor:
    //   number:      type (integer)
    //   list:        type (popup), width, visible rows, count and name callbacks
    //   boolean:     type (boolean)
    //   popup:       type (choice), the choices (ended by null, in the width's place)
    //   file button: type (string), width; the list callbacks carry over and
    //                are ignored
    host::Control *AddNumber(const char *label) const;
    host::Control *AddList(const char *label, int width, int visibleRows, host::ListCountFunc count,
                           host::ListNameFunc name) const;
    host::Control *AddBoolean(const char *label) const;
    host::Control *AddPopup(const char *label, const char **choices) const;
    host::Control *AddFileButton(const char *label, int width) const;

  private:
    host::Control *Add(const char *typeName, const char *label) const;

    host::PanelFuncs &panels_;
    host::PanelId panel_ = nullptr;
};

// A control's integer value (a number, a list's selected row, a switch's 0 or
// 1, a popup's choice), through the shared value record.
std::int32_t GetValue(host::Control *control);
void SetValue(host::Control *control, std::int32_t value);

// Hands the control its user data, then its event handler.
void AttachEvent(host::Control *control, void *userData, host::EventFunc handler);

}  // namespace tamberlo
