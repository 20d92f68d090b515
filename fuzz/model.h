// The reference model of copy and paste: the plainest statement of what the
// commands must do, sharing no code with the module (lists of names and
// flags, keys in a map by time, and loops that say what a copy captures and
// what a paste clears and writes), and the comparison of the host's scene
// with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/story.h"
#include "standin/standin.h"

namespace fuzz {

// The module keeps names in fixed fields: this many bytes survive.
constexpr std::size_t CHANNEL_NAME_BYTES = 79;
constexpr std::size_t ITEM_NAME_BYTES = 99;

struct ModelKey {
    double value = 0.0;
    Parameters parameters{};
};

// Keys by time, as the host holds them: one key per time (0 and -0 are the
// same time), and a key made at a time that has one already only replaces
// that key's value.
struct ModelChannel {
    std::string name;
    int type = 0;
    std::map<double, ModelKey> keys;
    Attributes attributes{};
};

struct ModelItem {
    std::string name;
    host::ItemId id = nullptr;
    std::vector<ModelChannel> channels;
};

struct ClipKey {
    double time = 0.0;
    double value = 0.0;
    Parameters parameters{};
    Attributes attributes{};
};

struct ClipChannel {
    std::string name;
    int type = 0;
    std::vector<ClipKey> keys;
};

struct ModelClipboard {
    bool filled = false;
    std::vector<std::vector<ClipChannel>> items;  // in the reverse of the selection order
    std::int32_t first = 0;
    std::int32_t last = 0;
};

struct World {
    std::vector<ModelItem> items;
    double framesPerSecond = 30.0;
    std::int32_t frameStart = 0;
    std::int32_t frameEnd = 60;
    ModelClipboard clipboard;
};

// The whole Shift_JIS characters of a name that fit in `bytes` bytes.
std::string Field(const std::string &name, std::size_t bytes);

// A key's frame: its time times the rate, truncated toward zero, and held
// inside the 32-bit range. Not a number has no frame.
std::optional<std::int64_t> FrameOf(double time, double framesPerSecond);

bool Within(std::optional<std::int64_t> frame, std::int64_t first, std::int64_t last);

// The copy panel: the table of selected items (reversed) with their channels
// and flags, and what the controls the module drives show.
struct PanelChannel {
    std::string name;
    bool enabled = true;
};

struct PanelItem {
    std::size_t item = 0;  // index into World::items
    std::string name;
    std::vector<PanelChannel> channels;
};

struct CopyPanel {
    std::vector<PanelItem> table;
    int currentItem = -1;  // nothing picked yet
    // The channel list and the switch hold no value until the module sets
    // them, and the switch is greyed out until a channel is shown on it.
    int channelRow = standin::UNSET_CONTROL_VALUE;
    int switchValue = standin::UNSET_CONTROL_VALUE;
    bool switchGreyed = true;
    std::int32_t first = 0;
    std::int32_t last = 0;

    PanelItem *Current() {
        if (currentItem < 0 || currentItem >= static_cast<int>(table.size())) return nullptr;
        return &table[static_cast<std::size_t>(currentItem)];
    }
    PanelChannel *Channel(int row) {
        PanelItem *item = Current();
        if (item == nullptr || row < 0 || row >= static_cast<int>(item->channels.size()))
            return nullptr;
        return &item->channels[static_cast<std::size_t>(row)];
    }
    std::vector<std::string> ChannelRows() {
        std::vector<std::string> rows;
        if (PanelItem *item = Current())
            for (const PanelChannel &channel : item->channels)
                rows.push_back((channel.enabled ? "* " : "  ") + channel.name);
        return rows;
    }
    // The switch shows the picked channel's flag, or greyed out and off when
    // there is none.
    void ShowPickedChannel() {
        const PanelChannel *channel = Channel(channelRow);
        switchValue = channel != nullptr && channel->enabled ? 1 : 0;
        switchGreyed = channel == nullptr;
    }
};

CopyPanel OpenCopyPanel(const World &world, const std::vector<std::size_t> &selection);

// Popup choices 0 to 2 are the channels named "Position.", "Rotation." and
// "Scale." followed by anything; 3 is every other channel; 4 is all.
bool InGroup(const std::string &name, int choice);

// A group goes all off when all of it is on, and all on otherwise.
void ToggleGroup(CopyPanel &panel, int choice);

// A confirmed copy: for each item of the table, its enabled channels in
// order, each with the keys whose frame (at the copy's rate) lies in
// [first, last].
ModelClipboard Capture(const World &world, const CopyPanel &panel);

// A confirmed paste at `start` onto a selection as long as the clipboard.
void Paste(World &world, const std::vector<std::size_t> &selection, std::int32_t start);

// Comparing the host's scene with the model.

bool SameBits(double a, double b);

std::string DescribeModel(const World &world);

std::string DescribeScene(const standin::Scene &scene, const World &world);

void CompareScene(const standin::Scene &scene, const World &world, const std::string &after);

}  // namespace fuzz
