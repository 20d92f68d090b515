#include "copy/copy_command.h"

#include <cstdio>
#include <optional>

#include "copy/capture.h"
#include "copy/copy_session.h"
#include "model/channel_groups.h"
#include "services/panel.h"
#include "services/selection.h"
#include "services/texts.h"

namespace tamberlo {

namespace {

// The copy activation in progress; the host calls the panel callbacks only
// while it runs, and they find their state here.
CopySession *activeCopy = nullptr;

// The group popup's entries, in the order of ChannelGroup.
const char *groupChoices[] = {"Position", "Rotation", "Scale", texts::OTHERS, texts::ALL, nullptr};
constexpr int GROUP_CHOICE_COUNT = 5;

// The lists' size on the panel, and the file buttons' width.
constexpr int LIST_WIDTH = 300;
constexpr int LIST_VISIBLE_ROWS = 10;
constexpr int FILE_BUTTON_WIDTH = 100;

// ---------------------------------------------------------------------------
// Lookups that the callbacks share. Every index the host or the user hands
// in is checked, so that no flag outside the table is ever read or written.

ItemRecord *CurrentItemRecord() {
    CopySession &session = *activeCopy;
    if (session.table == nullptr || session.currentItem < 0 ||
        static_cast<std::size_t>(session.currentItem) >= session.table->size())
        return nullptr;
    return &(*session.table)[static_cast<std::size_t>(session.currentItem)];
}

ChannelRecord *ChannelOfCurrentItem(std::int32_t index) {
    ItemRecord *item = CurrentItemRecord();
    if (item == nullptr || index < 0 || index >= item->channelCount) return nullptr;
    return &item->Channels()[static_cast<std::size_t>(index)];
}

void RedrawChannelList() {
    host::Control *list = activeCopy->channelList;
    list->draw(list, host::DR_GHOST);
    list->draw(list, host::DR_RENDER);
}

// ---------------------------------------------------------------------------
// List callbacks.

// Called by the host whenever it draws the item list; reads the selection count.
int ItemListCount(void *) {
    return activeCopy != nullptr && activeCopy->table != nullptr
               ? static_cast<int>(activeCopy->table->size())
               : 0;
}

// Called by the host for each row of the item list; returns the name in place.
const char *ItemListName(void *, int index) {
    if (activeCopy == nullptr || activeCopy->table == nullptr || index < 0 ||
        static_cast<std::size_t>(index) >= activeCopy->table->size())
        return "";
    return (*activeCopy->table)[static_cast<std::size_t>(index)].name.data();
}

// Called by the host whenever it draws the channel list: the current item's channels.
int ChannelListCount(void *) {
    if (activeCopy == nullptr) return 0;
    const ItemRecord *item = CurrentItemRecord();
    return item != nullptr ? item->channelCount : 0;
}

// Called by the host for each row of the channel list; the text lives in the
// row buffer until the next call.
const char *ChannelListName(void *, int index) {
    if (activeCopy == nullptr) return "";
    const ChannelRecord *channel = ChannelOfCurrentItem(index);
    if (channel == nullptr) return "";
    std::snprintf(activeCopy->channelRowBuffer.data(), activeCopy->channelRowBuffer.size(), "%s %s",
                  channel->enabled != 0 ? "*" : " ", channel->name.data());
    return activeCopy->channelRowBuffer.data();
}

// ---------------------------------------------------------------------------
// Event handlers, called by the host after the user changes their control.

// Shows the flag of the channel picked in the channel list on the switch.
void ChannelPick(host::Control *, void *) {
    if (activeCopy == nullptr) return;  // only while this module's panel is open
    CopySession &session = *activeCopy;
    const ChannelRecord *channel = ChannelOfCurrentItem(GetValue(session.channelList));
    if (channel == nullptr) {
        // Nothing to switch: the switch stays greyed out and off.
        session.enabledSwitch->draw(session.enabledSwitch, host::DR_GHOST);
        SetValue(session.enabledSwitch, 0);
        return;
    }
    session.enabledSwitch->draw(session.enabledSwitch, host::DR_RENDER);
    SetValue(session.enabledSwitch, channel->enabled != 0 ? 1 : 0);
}

// The user picked an item: show its channels from the first row.
void ItemPick(host::Control *, void *) {
    if (activeCopy == nullptr) return;  // only while this module's panel is open
    CopySession &session = *activeCopy;
    session.currentItem = GetValue(session.itemList);
    SetValue(session.channelList, 0);
    ChannelPick(session.channelList, nullptr);
    RedrawChannelList();
}

// The user flipped the switch: the picked channel follows it.
void EnabledChange(host::Control *, void *) {
    if (activeCopy == nullptr) return;  // only while this module's panel is open
    CopySession &session = *activeCopy;
    const std::int32_t on = GetValue(session.enabledSwitch);
    ChannelRecord *channel = ChannelOfCurrentItem(GetValue(session.channelList));
    if (channel != nullptr) channel->enabled = on != 0 ? 1 : 0;
    RedrawChannelList();
}

// The user chose a group: switch it all on if any of it is off, else all off.
void GroupToggle(host::Control *, void *) {
    if (activeCopy == nullptr) return;  // only while this module's panel is open
    CopySession &session = *activeCopy;
    const std::int32_t choice = GetValue(session.groupPopup);
    ItemRecord *item = CurrentItemRecord();
    if (item != nullptr && choice >= 0 && choice < GROUP_CHOICE_COUNT) {
        const auto group = static_cast<ChannelGroup>(choice);
        int members = 0;
        int enabled = 0;
        for (const ChannelRecord &channel : item->Channels()) {
            if (!InChannelGroup(channel.name.data(), group)) continue;
            ++members;
            if (channel.enabled != 0) ++enabled;
        }
        const std::uint8_t flag = enabled != members ? 1 : 0;
        for (ChannelRecord &channel : item->Channels())
            if (InChannelGroup(channel.name.data(), group)) channel.enabled = flag;
    }
    RedrawChannelList();
    ChannelPick(session.channelList, nullptr);
}

// ---------------------------------------------------------------------------
// Building the panel.

void AddControls(CopySession &session, const ScopedPanel &panel) {
    session.startFrameControl = panel.AddNumber(texts::START_FRAME);
    session.endFrameControl = panel.AddNumber(texts::END_FRAME);
    session.itemList =
        panel.AddList(texts::ITEM, LIST_WIDTH, LIST_VISIBLE_ROWS, ItemListCount, ItemListName);
    session.channelList = panel.AddList(texts::CHANNEL, LIST_WIDTH, LIST_VISIBLE_ROWS,
                                        ChannelListCount, ChannelListName);
    session.enabledSwitch = panel.AddBoolean(texts::ENABLED);
    session.groupPopup = panel.AddPopup(texts::SWITCH_ALL, groupChoices);
    session.saveSetButton = panel.AddFileButton(texts::SAVE_SET, FILE_BUTTON_WIDTH);
    session.loadSetButton = panel.AddFileButton(texts::LOAD_SET, FILE_BUTTON_WIDTH);
}

bool AllControlsMade(const CopySession &session) {
    for (const host::Control *control :
         {session.startFrameControl, session.endFrameControl, session.itemList, session.channelList,
          session.enabledSwitch, session.groupPopup, session.saveSetButton, session.loadSetButton})
        if (control == nullptr) return false;
    return true;
}

// Makes the session visible to the callbacks for as long as it lives.
struct ActiveCopy {
    explicit ActiveCopy(CopySession &session) { activeCopy = &session; }
    ~ActiveCopy() { activeCopy = nullptr; }
    ActiveCopy(const ActiveCopy &) = delete;
    ActiveCopy &operator=(const ActiveCopy &) = delete;
};

}  // namespace

void CopyCommand(host::GlobalFunc global, void * /*local*/) {
    CopySession session;
    session.services = LookUpServices(global);
    const HostServices &services = session.services;
    if (!services.Complete()) return;

    ActiveCopy active(session);
    // Declared before the panel, so the panel is always destroyed before the
    // table is released.
    std::optional<ItemTable> table;
    const ScopedPanel panel(services, texts::PANEL_TITLE);
    if (!panel) return;

    session.currentItem = -1;
    AddControls(session, panel);
    // The handlers and capture work through every control; a panel the host
    // could not fill is closed again unshown.
    if (!AllControlsMade(session)) return;

    const std::int32_t selectedCount = CountSelectedItems(services);
    if (selectedCount == 0) {
        services.messages->error(texts::NO_ITEM_SELECTED, "");
        return;
    }
    table.emplace(BuildItemTable(services, selectedCount));
    session.table = &*table;

    AttachEvent(session.itemList, session.table, ItemPick);
    AttachEvent(session.channelList, session.table, ChannelPick);
    AttachEvent(session.enabledSwitch, session.table, EnabledChange);
    AttachEvent(session.groupPopup, session.table, GroupToggle);

    session.enabledSwitch->draw(session.enabledSwitch, host::DR_GHOST);
    SetValue(session.itemList, 0);
    SetValue(session.startFrameControl, services.sceneInfo->frameStart);
    SetValue(session.endFrameControl, services.sceneInfo->frameEnd);
    session.framesPerSecond = services.sceneInfo->framesPerSecond;

    if (!panel.Show()) return;
    const std::int32_t firstFrame = GetValue(session.startFrameControl);
    const std::int32_t lastFrame = GetValue(session.endFrameControl);
    CaptureMotion(services, *table, firstFrame, lastFrame, session.framesPerSecond, Clipboard());
}

}  // namespace tamberlo
