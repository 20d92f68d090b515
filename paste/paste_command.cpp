#include "paste/paste_command.h"

#include <optional>

#include "model/item_table.h"
#include "model/motion_clipboard.h"
#include "module/controls.h"
#include "module/services.h"
#include "module/texts.h"
#include "paste/transfer.h"

namespace tamberlo {

namespace {

// Destroys the panel when the command ends, however it ends.
struct PanelGuard {
    host::PanelFuncs &panels;
    host::PanelId panel;
    ~PanelGuard() { panels.destroy(panel); }
};

}  // namespace

void PasteCommand(host::GlobalFunc global, void * /*local*/) {
    const HostServices services = LookUpServices(global);
    if (!services.Complete()) return;
    const MotionClipboard &clipboard = Clipboard();

    if (clipboard.IsEmpty()) {
        services.messages->error(texts::NOTHING_COPIED, "");
        return;
    }
    const std::int32_t selectedCount = CountSelectedItems(services);
    if (selectedCount == 0) {
        services.messages->error(texts::NO_ITEM_SELECTED, "");
        return;
    }
    if (selectedCount != clipboard.ItemCount()) {
        services.messages->error(texts::COUNT_MISMATCH, "");
        return;
    }

    const host::PanelId panel = services.panels->create(texts::PANEL_TITLE, services.panels);
    if (panel == nullptr) return;
    // Declared before the guard, so the panel goes before the table does.
    std::optional<ItemTable> table;
    PanelGuard panelGuard{*services.panels, panel};

    table.emplace(BuildItemTable(services, selectedCount));
    services.panels->globalFun = global;
    host::ControlDescriptor &descriptor = SharedControlDescriptor();
    descriptor.type = host::LWT_INTEGER;
    host::Control *startControl =
        services.panels->addControl(panel, "NumControl", &descriptor, texts::PASTE_START_FRAME);
    if (startControl == nullptr) return;
    SetValue(startControl, clipboard.Content().firstFrame);

    const int confirmed =
        services.panels->open(panel, host::PANF_BLOCKING | host::PANF_CANCEL | host::PANF_FRAME);
    if (confirmed == 0) return;
    const std::int32_t startFrame = GetValue(startControl);
    const double framesPerSecond = services.sceneInfo->framesPerSecond;
    TransferMotion(services, *table, clipboard.Content(), startFrame, framesPerSecond);
}

}  // namespace tamberlo
