#include "services/panel.h"

namespace tamberlo {

namespace {

// The module-level records of the host contract (see the header): one value
// record, whose type field stays integer for every control the module reads
// or sets, and one control descriptor that each add refills in part.
host::ValueRecord valueRecord{host::LWT_INTEGER, 0};
host::ControlDescriptor controlDescriptor{};

constexpr int PANEL_FLAGS = host::PANF_BLOCKING | host::PANF_CANCEL | host::PANF_FRAME;

}  // namespace

ScopedPanel::ScopedPanel(const HostServices &services, const char *title)
    : panels_(*services.panels) {
    panel_ = panels_.create(title, &panels_);
    // The panel services reach the other services through this lookup while
    // the panel is up.
    if (panel_ != nullptr) panels_.globalFun = services.global;
}

ScopedPanel::~ScopedPanel() {
    if (panel_ != nullptr) panels_.destroy(panel_);
}

bool ScopedPanel::Show() const {
    return panels_.open(panel_, PANEL_FLAGS) != 0;
}

host::Control *ScopedPanel::Add(const char *typeName, const char *label) const {
    return panels_.addControl(panel_, typeName, &controlDescriptor, label);
}

host::Control *ScopedPanel::AddNumber(const char *label) const {
    controlDescriptor.type = host::LWT_INTEGER;
    return Add(host::NUM_CONTROL, label);
}

host::Control *ScopedPanel::AddList(const char *label, int width, int visibleRows,
                                    host::ListCountFunc count, host::ListNameFunc name) const {
    controlDescriptor.type = host::LWT_POPUP;
    controlDescriptor.shape.width = width;
    controlDescriptor.visibleRows = visibleRows;
    controlDescriptor.countFn = count;
    controlDescriptor.nameFn = name;
    return Add(host::LIST_BOX_CONTROL, label);
}

host::Control *ScopedPanel::AddBoolean(const char *label) const {
    controlDescriptor.type = host::LWT_BOOLEAN;
    return Add(host::BOOL_CONTROL, label);
}

host::Control *ScopedPanel::AddPopup(const char *label, const char **choices) const {
    controlDescriptor.type = host::LWT_CHOICE;
    controlDescriptor.shape.choices = choices;
    return Add(host::POPUP_CONTROL, label);
}

host::Control *ScopedPanel::AddFileButton(const char *label, int width) const {
    controlDescriptor.type = host::LWT_STRING;
    controlDescriptor.shape.width = width;
    return Add(host::FILE_BUTTON_CONTROL, label);
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
