// The records through which the module talks to panel controls: one value
// record for every get and set, one descriptor refilled before each control
// is added.
#pragma once

#include <cstdint>

#include "host/host_api.h"

namespace tamberlo {

host::ControlDescriptor &SharedControlDescriptor();

// A control's integer value (a number, a list's selected row, a switch's 0 or
// 1, a popup's choice).
std::int32_t GetValue(host::Control *control);
void SetValue(host::Control *control, std::int32_t value);

// Hands the control its user data, then its event handler.
void AttachEvent(host::Control *control, void *userData, host::EventFunc handler);

}  // namespace tamberlo
