#include "fuzz/model.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace fuzz {

std::string Field(const std::string &name, std::size_t bytes) {
    // Where each character of the name ends. In code page 932 a byte from
    // 0x81 to 0x9F or from 0xE0 to 0xFC opens a character of two bytes,
    // unless it is the name's last byte; every other byte is one character.
    std::vector<std::size_t> ends;
    std::size_t at = 0;
    while (at < name.size()) {
        const auto byte = static_cast<unsigned char>(name[at]);
        const bool opensTwo = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        at += opensTwo && at + 1 < name.size() ? 2 : 1;
        ends.push_back(at);
    }
    // The field keeps whole characters only.
    std::size_t kept = 0;
    for (const std::size_t end : ends)
        if (end <= bytes) kept = end;
    return name.substr(0, kept);
}

std::optional<std::int64_t> FrameOf(double time, double framesPerSecond) {
    const double product = time * framesPerSecond;
    if (std::isnan(product)) return std::nullopt;
    const double whole = std::trunc(product);
    if (whole < static_cast<double>(LOWEST)) return LOWEST;
    if (whole > static_cast<double>(HIGHEST)) return HIGHEST;
    return static_cast<std::int64_t>(whole);
}

bool Within(std::optional<std::int64_t> frame, std::int64_t first, std::int64_t last) {
    return frame.has_value() && first <= *frame && *frame <= last;
}

CopyPanel OpenCopyPanel(const World &world, const std::vector<std::size_t> &selection) {
    CopyPanel panel;
    for (std::size_t i = selection.size(); i-- > 0;) {
        const ModelItem &item = world.items[selection[i]];
        PanelItem row{selection[i], Field(item.name, ITEM_NAME_BYTES), {}};
        for (const ModelChannel &channel : item.channels)
            row.channels.push_back(PanelChannel{Field(channel.name, CHANNEL_NAME_BYTES), true});
        panel.table.push_back(std::move(row));
    }
    panel.first = world.frameStart;
    panel.last = world.frameEnd;
    return panel;
}

bool InGroup(const std::string &name, int choice) {
    const bool position = name.starts_with("Position.");
    const bool rotation = name.starts_with("Rotation.");
    const bool scale = name.starts_with("Scale.");
    switch (choice) {
        case 0:
            return position;
        case 1:
            return rotation;
        case 2:
            return scale;
        case 3:
            return !position && !rotation && !scale;
        case 4:
            return true;
        default:
            return false;
    }
}

void ToggleGroup(CopyPanel &panel, int choice) {
    PanelItem *item = panel.Current();
    if (item != nullptr && choice >= 0 && choice <= 4) {
        bool allOn = true;
        for (const PanelChannel &channel : item->channels)
            if (InGroup(channel.name, choice) && !channel.enabled) allOn = false;
        for (PanelChannel &channel : item->channels)
            if (InGroup(channel.name, choice)) channel.enabled = !allOn;
    }
    panel.ShowPickedChannel();
}

ModelClipboard Capture(const World &world, const CopyPanel &panel) {
    ModelClipboard clipboard;
    clipboard.filled = true;
    clipboard.first = panel.first;
    clipboard.last = panel.last;
    for (const PanelItem &row : panel.table) {
        const ModelItem &item = world.items[row.item];
        std::vector<ClipChannel> channels;
        for (std::size_t c = 0; c < row.channels.size(); ++c) {
            if (!row.channels[c].enabled) continue;
            const ModelChannel &source = item.channels[c];
            ClipChannel copied{Field(source.name, CHANNEL_NAME_BYTES), source.type, {}};
            for (const auto &[time, key] : source.keys)
                if (Within(FrameOf(time, world.framesPerSecond), panel.first, panel.last))
                    copied.keys.push_back(
                        ClipKey{time, key.value, key.parameters, source.attributes});
            channels.push_back(std::move(copied));
        }
        clipboard.items.push_back(std::move(channels));
    }
    return clipboard;
}

void Paste(World &world, const std::vector<std::size_t> &selection, std::int32_t start) {
    const ModelClipboard &clipboard = world.clipboard;
    const std::int64_t shift = static_cast<std::int64_t>(start) - clipboard.first;
    const std::int64_t windowFirst = start;
    const std::int64_t windowLast =
        windowFirst + (static_cast<std::int64_t>(clipboard.last) - clipboard.first);
    // Only the channels an item had when the paste began are matched by
    // name; a channel this paste created is not found again.
    std::vector<std::size_t> channelsAtStart;
    for (const ModelItem &item : world.items) channelsAtStart.push_back(item.channels.size());

    for (std::size_t position = 0; position < selection.size(); ++position) {
        const std::size_t itemIndex = selection[selection.size() - 1 - position];
        ModelItem &target = world.items[itemIndex];
        for (const ClipChannel &copied : clipboard.items[position]) {
            std::size_t match = 0;
            while (match < channelsAtStart[itemIndex] &&
                   Field(target.channels[match].name, CHANNEL_NAME_BYTES) != copied.name)
                ++match;
            if (match == channelsAtStart[itemIndex]) {
                match = target.channels.size();
                target.channels.push_back(ModelChannel{copied.name, copied.type, {}, {}});
            }
            ModelChannel &channel = target.channels[match];
            std::erase_if(channel.keys, [&](const auto &entry) {
                return Within(FrameOf(entry.first, world.framesPerSecond), windowFirst, windowLast);
            });
            for (const ClipKey &key : copied.keys) {
                const double time =
                    shift == 0 ? key.time
                               : key.time + static_cast<double>(shift) / world.framesPerSecond;
                if (!std::isfinite(time)) continue;  // the host refuses such a key
                ModelKey &placed = channel.keys[time];
                placed.value = key.value;
                placed.parameters = key.parameters;
                channel.attributes = key.attributes;
            }
        }
    }
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string DescribeModel(const World &world) {
    std::string text;
    for (std::size_t i = 0; i < world.items.size(); ++i) {
        const ModelItem &item = world.items[i];
        text += "  item " + std::to_string(i) + " " + Quoted(item.name) + "\n";
        for (const ModelChannel &channel : item.channels) {
            text += "    " + Quoted(channel.name) + " type " + std::to_string(channel.type) +
                    " attributes " + Text(channel.attributes) + "\n";
            for (const auto &[time, key] : channel.keys)
                text += "      t " + Text(time) + " v " + Text(key.value) + " p2 " +
                        Text(key.parameters[0]) + "\n";
        }
    }
    return text;
}

std::string DescribeScene(const standin::Scene &scene, const World &world) {
    std::string text;
    for (std::size_t i = 0; i < world.items.size(); ++i) {
        const host::ItemId item = world.items[i].id;
        text += "  item " + std::to_string(i) + " " + Quoted(scene.ItemName(item)) + "\n";
        for (const standin::ChannelState &channel : scene.Channels(item)) {
            text += "    " + Quoted(channel.name) + " type " + std::to_string(channel.type);
            if (channel.envelope == nullptr) {
                text += " (no envelope)\n";
                continue;
            }
            Attributes attributes{};
            for (int a = 0; a < 3; ++a) attributes[a] = scene.Attribute(channel.envelope, a);
            text += " attributes " + Text(attributes) + "\n";
            for (const standin::KeyState &key : scene.Keys(channel.envelope))
                text += "      t " + Text(key.time) + " v " + Text(key.value) + " p2 " +
                        Text(key.parameters[0]) + "\n";
        }
    }
    return text;
}

void CompareScene(const standin::Scene &scene, const World &world, const std::string &after) {
    const auto differ = [&](const std::string &where) {
        Fail(where + ", after " + after, "---- the model expects:\n" + DescribeModel(world) +
                                             "---- the host holds:\n" +
                                             DescribeScene(scene, world));
    };
    for (std::size_t i = 0; i < world.items.size(); ++i) {
        const ModelItem &item = world.items[i];
        const std::string itemWhere = "item " + std::to_string(i) + " " + Quoted(item.name);
        const std::vector<standin::ChannelState> channels = scene.Channels(item.id);
        if (channels.size() != item.channels.size())
            differ(itemWhere + ": " + std::to_string(channels.size()) + " channels, expected " +
                   std::to_string(item.channels.size()));
        for (std::size_t c = 0; c < channels.size(); ++c) {
            const ModelChannel &expected = item.channels[c];
            const standin::ChannelState &actual = channels[c];
            const std::string where =
                itemWhere + " channel " + std::to_string(c) + " " + Quoted(expected.name);
            if (actual.name != expected.name) differ(where + ": named " + Quoted(actual.name));
            if (actual.type != expected.type)
                differ(where + ": type " + std::to_string(actual.type) + ", expected " +
                       std::to_string(expected.type));
            if (actual.envelope == nullptr) differ(where + ": no envelope");
            for (int a = 0; a < 3; ++a)
                if (scene.Attribute(actual.envelope, a) != expected.attributes[a])
                    differ(where + ": attribute " + std::to_string(a) + " is " +
                           std::to_string(scene.Attribute(actual.envelope, a)) + ", expected " +
                           std::to_string(expected.attributes[a]));
            const std::vector<standin::KeyState> keys = scene.Keys(actual.envelope);
            if (keys.size() != expected.keys.size())
                differ(where + ": " + std::to_string(keys.size()) + " keys, expected " +
                       std::to_string(expected.keys.size()));
            std::size_t k = 0;
            for (const auto &[time, key] : expected.keys) {
                const standin::KeyState &found = keys[k];
                const std::string keyWhere = where + " key " + std::to_string(k++);
                if (!SameBits(found.time, time))
                    differ(keyWhere + ": time " + Text(found.time) + ", expected " + Text(time));
                if (!SameBits(found.value, key.value))
                    differ(keyWhere + ": value " + Text(found.value) + ", expected " +
                           Text(key.value));
                for (std::size_t p = 0; p < 8; ++p)
                    if (found.parameters[p] != key.parameters[p])
                        differ(keyWhere + ": parameter " + std::to_string(p + 2) + " is " +
                               Text(found.parameters[p]) + ", expected " + Text(key.parameters[p]));
            }
        }
    }
}

}  // namespace fuzz
