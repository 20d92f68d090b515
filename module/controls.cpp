#include "module/controls.h"

namespace tamberlo {

namespace {

host::ValueRecord valueRecord{host::LWT_INTEGER, 0};
host::ControlDescriptor controlDescriptor{};

}  // namespace

host::ControlDescriptor &SharedControlDescriptor() {
    return controlDescriptor;
}

std::int32_t GetValue(host::Control *control) {
    control->get(control, host::CTL_VALUE, &valueRecord);
    // The field is pointer-wide; a control's value is the low 32 bits.
    return static_cast<std::int32_t>(valueRecord.value);
}

void SetValue(host::Control *control, std::int32_t value) {
    valueRecord.value = value;
    control->set(control, host::CTL_VALUE, &valueRecord);
}

void AttachEvent(host::Control *control, void *userData, host::EventFunc handler) {
    valueRecord.value = reinterpret_cast<std::intptr_t>(userData);
    control->set(control, host::CTL_USERDATA, &valueRecord);
    valueRecord.value = reinterpret_cast<std::intptr_t>(handler);
    control->set(control, host::CTL_USEREVENT, &valueRecord);
}

}  // namespace tamberlo
