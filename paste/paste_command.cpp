#include "paste/paste_command.h"

#include <optional>

#include "model/item_table.h"
#include "model/motion_clipboard.h"
#include "paste/transfer.h"
#include "services/panel.h"
#include "services/selection.h"
#include "services/services.h"
#include "services/texts.h"

namespace tamberlo {

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

    // Declared before the panel, so the panel goes before the table does.
    std::optional<ItemTable> table;
    const ScopedPanel panel(services, texts::PANEL_TITLE);
    if (!panel) return;

    table.emplace(BuildItemTable(services, selectedCount));
    host::Control *startControl = panel.AddNumber(texts::PASTE_START_FRAME);
    if (startControl == nullptr) return;
    SetValue(startControl, clipboard.Content().firstFrame);

    if (!panel.Show()) return;
    const std::int32_t startFrame = GetValue(startControl);
    const double framesPerSecond = services.sceneInfo->framesPerSecond;
    TransferMotion(services, *table, clipboard.Content(), startFrame, framesPerSecond);
}

}  // namespace tamberlo
