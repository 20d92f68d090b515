#include "copy/copy_command.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

#include "copy/capture.h"
#include "copy/copy_session.h"
#include "module/controls.h"
#include "module/texts.h"

namespace tamberlo {

namespace {

// The copy activation in progress; the host calls the panel callbacks only
// while it runs, and they find their state here.
CopySession *activeCopy = nullptr;

// The group popup's entries; the first three also name channel groups.
const char *groupChoices[] = {"Position", "Rotation", "Scale", texts::OTHERS, texts::ALL, nullptr};
constexpr int GROUP_OTHERS = 3;
constexpr int GROUP_ALL = 4;

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

// The name prefixes of the named groups, "Position." and the like, made from
// the popup's entries.
class GroupPrefixes {
  public:
    GroupPrefixes() {
        for (int named = 0; named < GROUP_OTHERS; ++named)
            std::snprintf(prefixes_[named].data(), prefixes_[named].size(), "%s.",
                          groupChoices[named]);
    }

    // Whether a channel belongs to the group of a popup choice from 0 to 4.
    bool InGroup(const ChannelRecord &channel, int choice) const {
        if (choice == GROUP_ALL) return true;
        if (choice < GROUP_OTHERS) return HasPrefix(channel, choice);
        // The others: channels in none of the named groups.
        for (int named = 0; named < GROUP_OTHERS; ++named)
            if (HasPrefix(channel, named)) return false;
        return true;
    }

  private:
    bool HasPrefix(const ChannelRecord &channel, int named) const {
        const char *prefix = prefixes_[named].data();
        return std::strncmp(channel.name.data(), prefix, std::strlen(prefix)) == 0;
    }

    std::array<std::array<char, 16>, GROUP_OTHERS> prefixes_{};
};

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
    if (item != nullptr && choice >= 0 && choice <= GROUP_ALL) {
        const GroupPrefixes groups;
        int members = 0;
        int enabled = 0;
        for (const ChannelRecord &channel : item->Channels()) {
            if (!groups.InGroup(channel, choice)) continue;
            ++members;
            if (channel.enabled != 0) ++enabled;
        }
        const std::uint8_t flag = enabled != members ? 1 : 0;
        for (ChannelRecord &channel : item->Channels())
            if (groups.InGroup(channel, choice)) channel.enabled = flag;
    }
    RedrawChannelList();
    ChannelPick(session.channelList, nullptr);
}

// ---------------------------------------------------------------------------
// Building the panel.

// Each add refills the one shared descriptor with what its control type
// uses; the other fields keep whatever they held and the host ignores them.
host::Control *AddControl(const CopySession &session, const char *typeName, const char *label) {
    return session.services.panels->addControl(session.panel, typeName, &SharedControlDescriptor(),
                                               label);
}

host::Control *AddNumber(const CopySession &session, const char *label) {
    SharedControlDescriptor().type = host::LWT_INTEGER;
    return AddControl(session, "NumControl", label);
}

host::Control *AddList(const CopySession &session, const char *label, host::ListCountFunc count,
                       host::ListNameFunc name) {
    host::ControlDescriptor &descriptor = SharedControlDescriptor();
    descriptor.type = host::LWT_POPUP;
    descriptor.shape.width = 300;
    descriptor.visibleRows = 10;
    descriptor.countFn = count;
    descriptor.nameFn = name;
    return AddControl(session, "ListBoxControl", label);
}

host::Control *AddFileButton(const CopySession &session, const char *label) {
    host::ControlDescriptor &descriptor = SharedControlDescriptor();
    descriptor.type = host::LWT_STRING;
    descriptor.shape.width = 100;
    return AddControl(session, "FileButtonControl", label);
}

void AddControls(CopySession &session) {
    session.startFrameControl = AddNumber(session, texts::START_FRAME);
    session.endFrameControl = AddNumber(session, texts::END_FRAME);
    session.itemList = AddList(session, texts::ITEM, ItemListCount, ItemListName);
    session.channelList = AddList(session, texts::CHANNEL, ChannelListCount, ChannelListName);

    SharedControlDescriptor().type = host::LWT_BOOLEAN;
    session.enabledSwitch = AddControl(session, "BoolControl", texts::ENABLED);

    SharedControlDescriptor().type = host::LWT_CHOICE;
    SharedControlDescriptor().shape.choices = groupChoices;
    session.groupPopup = AddControl(session, "PopupControl", texts::SWITCH_ALL);

    session.saveSetButton = AddFileButton(session, texts::SAVE_SET);
    session.loadSetButton = AddFileButton(session, texts::LOAD_SET);
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

// Destroys the panel when the command ends, unless capture already did.
struct PanelGuard {
    CopySession &session;
    ~PanelGuard() {
        if (session.panel != nullptr) session.services.panels->destroy(session.panel);
        session.panel = nullptr;
    }
};

}  // namespace

void CopyCommand(host::GlobalFunc global, void * /*local*/) {
    CopySession session;
    session.services = LookUpServices(global);
    const HostServices &services = session.services;
    if (!services.Complete()) return;

    session.panel = services.panels->create(texts::PANEL_TITLE, services.panels);
    if (session.panel == nullptr) return;
    ActiveCopy active(session);
    // The table outlives the panel guard, so the panel is always destroyed
    // before the table is released.
    std::optional<ItemTable> table;
    PanelGuard panelGuard{session};

    services.panels->globalFun = global;
    session.currentItem = -1;
    AddControls(session);
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

    const int confirmed = services.panels->open(
        session.panel, host::PANF_BLOCKING | host::PANF_CANCEL | host::PANF_FRAME);
    if (confirmed != 0) CaptureMotion(session);
}

}  // namespace tamberlo
