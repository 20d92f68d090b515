// Differential fuzzing of copy and paste.
//
// Each input builds a small random scene in the stand-in host, then runs a few
// commands through the loaded module: copy-panel sessions with random picks,
// switches, group choices and typed frame ranges, pastes onto random
// selections at random start frames, and changes of the frame rate and the
// scene's frame range. After every command the whole scene (every item, every
// channel's name and type, every key's time, value and parameter bytes, every
// envelope's attributes) is compared with a reference model kept here.
//
// The model shares no code with the module and is written as the plainest
// statement of what the commands must do: lists of names and flags, keys in a
// map by time, and loops that say what a copy captures and what a paste clears
// and writes. A difference is printed with the input's whole story and ends
// the run, so libFuzzer keeps the input.
//
// The module stays loaded for the whole run, and its clipboard with it. So
// that every input means the same thing whenever it runs, each one finds the
// clipboard in a known state and leaves it so: a confirmed copy of one item
// without channels, made in a throwaway host at start-up and again after
// every input. The refusal of a paste with nothing copied is checked once, at
// start-up, while the clipboard is still empty.
//
// Set TAMBERLO_FUZZ_VERBOSE=1 to print every input's story as it runs, and
// TAMBERLO_FUZZ_MODULE to a module file to fuzz that one instead of the build
// made for the fuzzer.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "standin/standin.h"
#include "tests/labels.h"

#ifndef TAMBERLO_MODULE_PATH
#error "TAMBERLO_MODULE_PATH must name the module to fuzz"
#endif

namespace {

using standin::PanelOutcome;
using standin::PanelSession;
using Slot = host::KeySlot;
using Parameters = host::KeyRawSlots;
using Attributes = std::array<int, 3>;

constexpr const char *COPY = "Ruxo_Tamberlo copy";
constexpr const char *PASTE = "Ruxo_Tamberlo paste";

// Labels and messages as the user reads them.
constexpr const char *START_FRAME = tamberlo_test::labels::START_FRAME;
constexpr const char *END_FRAME = tamberlo_test::labels::END_FRAME;
constexpr const char *ITEM_LIST = tamberlo_test::labels::ITEM;
constexpr const char *CHANNEL_LIST = tamberlo_test::labels::CHANNEL;
constexpr const char *ENABLED = tamberlo_test::labels::ENABLED;
constexpr const char *GROUP_POPUP = tamberlo_test::labels::SWITCH_ALL;
constexpr const char *PASTE_START = tamberlo_test::labels::PASTE_START_FRAME;
constexpr const char *NOTHING_COPIED = tamberlo_test::labels::NOTHING_COPIED;
constexpr const char *NO_ITEM_SELECTED = tamberlo_test::labels::NO_ITEM_SELECTED;
constexpr const char *COUNT_MISMATCH = tamberlo_test::labels::COUNT_MISMATCH;

// Small enough that an input runs in well under a millisecond.
constexpr int MAX_ITEMS = 4;
constexpr int MAX_CHANNELS = 6;
constexpr int MAX_KEYS = 12;
constexpr int MAX_OPERATIONS = 6;
constexpr int MAX_STEPS = 10;
constexpr int MAX_SELECTION = 4;

// The module keeps names in fixed fields: this many bytes survive.
constexpr std::size_t CHANNEL_NAME_BYTES = 79;
constexpr std::size_t ITEM_NAME_BYTES = 99;

constexpr std::int32_t LOWEST = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t HIGHEST = std::numeric_limits<std::int32_t>::max();

// Names that share prefixes, differ in case, and reach past the name fields:
// the last three agree in their first 79 bytes.
const std::vector<std::string> CHANNEL_NAMES = {
    "Position.X",
    "Position.Y",
    "position.X",
    "Position.",
    "PositionX",
    "Position",
    "Rotation.H",
    "Rotation.P",
    "rotation.H",
    "Scale",
    "Scale.Y",
    "Scale.",
    "Dissolve",
    "",
    "X",
    "100%s",
    "L" + std::string(85, 'a'),
    "L" + std::string(84, 'a') + "b",
    "L" + std::string(78, 'a'),
};
const std::vector<std::string> ITEM_NAMES = {
    "Null", "Cube", "cube", "Camera", "Light", "Cube.001", std::string(120, 'N'),
};
// The last rate makes the frame of a key at time 0 not a number.
const std::vector<double> RATES = {
    23.976, 29.97,  0.5,   24.0, 25.0,
    30.0,   59.94,  60.0,  7.3,  1e-3,
    1000.0, 1e-300, 1e300, 0.1,  std::numeric_limits<double>::infinity()};

// ---------------------------------------------------------------------------
// Reporting.

// What the current input has done so far, printed with any difference.
std::vector<std::string> story;
bool verbose = false;

void Tell(std::string line) {
    story.push_back(std::move(line));
}

std::string Text(double number) {
    char text[80];
    std::snprintf(text, sizeof text, "%.17g [%a]", number, number);
    return text;
}

std::string Text(const Slot &slot) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : slot) {
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0x0F];
    }
    return text;
}

std::string Text(const Attributes &attributes) {
    return std::to_string(attributes[0]) + "," + std::to_string(attributes[1]) + "," +
           std::to_string(attributes[2]);
}

std::string Quoted(const std::string &name) {
    return '"' +
           (name.size() > 24 ? name.substr(0, 12) + "...(" + std::to_string(name.size()) + " bytes)"
                             : name) +
           '"';
}

[[noreturn]] void Fail(const std::string &what, const std::string &detail = "") {
    std::fprintf(stderr, "\n==== copy and paste differ from the model: %s\n", what.c_str());
    if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
    std::fprintf(stderr, "---- what the input did:\n");
    for (const std::string &line : story) std::fprintf(stderr, "  %s\n", line.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

template <typename T>
void Expect(const T &actual, const T &expected, const std::string &what) {
    if (!(actual == expected)) Fail(what);
}

// ---------------------------------------------------------------------------
// The model.

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

// The first `bytes` bytes of a name (every name here is plain ASCII).
std::string Field(const std::string &name, std::size_t bytes) {
    return name.substr(0, bytes);
}

// A key's frame: its time times the rate, truncated toward zero, and held
// inside the 32-bit range. Not a number has no frame.
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
    int channelRow = 0;
    int switchValue = 0;
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
    // The switch shows the picked channel's flag, or off when there is none.
    void ShowPickedChannel() {
        const PanelChannel *channel = Channel(channelRow);
        switchValue = channel != nullptr && channel->enabled ? 1 : 0;
    }
};

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

// Popup choices 0 to 2 are the channels named "Position.", "Rotation." and
// "Scale." followed by anything; 3 is every other channel; 4 is all.
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

// A group goes all off when all of it is on, and all on otherwise.
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

// A confirmed copy: for each item of the table, its enabled channels in
// order, each with the keys whose frame (at the copy's rate) lies in
// [first, last].
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

// A confirmed paste at `start` onto a selection as long as the clipboard.
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

// ---------------------------------------------------------------------------
// Comparing the host's scene with the model.

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

// ---------------------------------------------------------------------------
// Reading the input.

// Mostly frames near the keys, so that ranges and windows cut through them.
std::int32_t PickFrame(FuzzedDataProvider &input) {
    switch (input.ConsumeIntegralInRange(0, 7)) {
        case 5: {
            static constexpr std::int32_t EXTREMES[] = {LOWEST,      LOWEST + 1, HIGHEST,
                                                        HIGHEST - 1, 0,          -1};
            return EXTREMES[input.ConsumeIntegralInRange<std::size_t>(0, 5)];
        }
        case 6:
            return input.ConsumeIntegral<std::int32_t>();
        case 7:
            return input.ConsumeIntegralInRange(-200, 2000);
        default:
            return input.ConsumeIntegralInRange(-3, 20);
    }
}

double PickRate(FuzzedDataProvider &input) {
    if (input.ConsumeIntegralInRange(0, 7) == 0)
        return input.ConsumeIntegralInRange(1, 240000) / 1000.0;
    return RATES[input.ConsumeIntegralInRange<std::size_t>(0, RATES.size() - 1)];
}

// Times at, beside and between frame boundaries, negative, zero of both
// signs, and far away; always finite, since the host holds no other keys.
double PickTime(FuzzedDataProvider &input, double framesPerSecond) {
    const double frame = input.ConsumeIntegralInRange(-4, 24);
    double time = 0.0;
    switch (input.ConsumeIntegralInRange(0, 9)) {
        case 1:
            time = (frame + input.ConsumeIntegralInRange(1, 7) / 8.0) / framesPerSecond;
            break;
        case 2:
            time = std::nextafter(frame / framesPerSecond, input.ConsumeBool() ? 1e300 : -1e300);
            break;
        case 3:
            time = -input.ConsumeIntegralInRange(0, 7) / (8.0 * framesPerSecond);
            break;
        case 4:
            time = input.ConsumeBool() ? -0.0 : 0.0;
            break;
        case 5: {
            // Far in time, or (the last two) just beyond the 32-bit frames.
            static constexpr double FAR[] = {1e12,   -1e12,        1e300,
                                             -1e300, 2147483647.5, -2147483649.0};
            const std::size_t which = input.ConsumeIntegralInRange<std::size_t>(0, 5);
            time = which < 4 ? FAR[which] : FAR[which] / framesPerSecond;
            break;
        }
        case 6:
            time = input.ConsumeFloatingPoint<double>();
            break;
        case 7:
            time = frame / 8.0;
            break;
        default:
            time = frame / framesPerSecond;
            break;
    }
    return std::isfinite(time) ? time : 0.0;
}

double PickValue(FuzzedDataProvider &input) {
    switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0:
            return input.ConsumeIntegralInRange(-100, 100);
        case 1:
            return input.ConsumeIntegralInRange(-1000, 1000) / 7.0;
        case 2: {
            static constexpr double SPECIAL[] = {-0.0,
                                                 std::numeric_limits<double>::quiet_NaN(),
                                                 std::numeric_limits<double>::infinity(),
                                                 -std::numeric_limits<double>::infinity(),
                                                 std::numeric_limits<double>::denorm_min(),
                                                 1e308};
            return SPECIAL[input.ConsumeIntegralInRange(0, 5)];
        }
        default:
            return input.ConsumeFloatingPoint<double>();
    }
}

int PickAttribute(FuzzedDataProvider &input) {
    switch (input.ConsumeIntegralInRange(0, 2)) {
        case 0:
            return input.ConsumeIntegralInRange(-3, 7);
        case 1:
            return input.ConsumeBool() ? std::numeric_limits<int>::min()
                                       : std::numeric_limits<int>::max();
        default:
            return input.ConsumeIntegral<int>();
    }
}

std::vector<std::size_t> PickSelection(FuzzedDataProvider &input, std::size_t itemCount,
                                       std::size_t length) {
    std::vector<std::size_t> selection;
    for (std::size_t i = 0; i < length; ++i)
        selection.push_back(input.ConsumeIntegralInRange<std::size_t>(0, itemCount - 1));
    return selection;
}

std::string Text(const std::vector<std::size_t> &selection) {
    std::string text = "[";
    for (std::size_t i = 0; i < selection.size(); ++i)
        text += (i == 0 ? "" : " ") + std::to_string(selection[i]);
    return text + "]";
}

// ---------------------------------------------------------------------------
// The scene.

void BuildScene(FuzzedDataProvider &input, standin::Scene &scene, World &world) {
    world.framesPerSecond = PickRate(input);
    world.frameStart = PickFrame(input);
    world.frameEnd = PickFrame(input);
    scene.SetFramesPerSecond(world.framesPerSecond);
    scene.SetFrames(world.frameStart, world.frameEnd);
    Tell("scene at " + Text(world.framesPerSecond) + " fps, frames " +
         std::to_string(world.frameStart) + " to " + std::to_string(world.frameEnd));

    const int itemCount = input.ConsumeIntegralInRange(1, MAX_ITEMS);
    for (int i = 0; i < itemCount; ++i) {
        ModelItem item;
        item.name = ITEM_NAMES[input.ConsumeIntegralInRange<std::size_t>(0, ITEM_NAMES.size() - 1)];
        item.id = scene.AddItem(item.name);
        Tell("item " + std::to_string(i) + " " + Quoted(item.name));
        const int channelCount = input.ConsumeIntegralInRange(0, MAX_CHANNELS);
        for (int c = 0; c < channelCount; ++c) {
            ModelChannel channel;
            // The first name comes up more often, so that items share channels.
            const std::size_t pick =
                input.ConsumeIntegralInRange<std::size_t>(0, CHANNEL_NAMES.size() + 3);
            channel.name = CHANNEL_NAMES[pick < CHANNEL_NAMES.size() ? pick : 0];
            channel.type = input.ConsumeIntegralInRange(0, 5);
            const host::ChannelId channelId = scene.AddChannel(item.id, channel.name, channel.type);
            const host::EnvelopeId envelope = scene.Channels(item.id).back().envelope;
            if (input.ConsumeBool()) {
                for (int a = 0; a < 3; ++a) {
                    channel.attributes[a] = PickAttribute(input);
                    scene.SetAttribute(envelope, a, channel.attributes[a]);
                }
            }
            Tell("  channel " + Quoted(channel.name) + " type " + std::to_string(channel.type) +
                 " attributes " + Text(channel.attributes));
            const int keyCount = input.ConsumeIntegralInRange(0, MAX_KEYS);
            for (int k = 0; k < keyCount; ++k) {
                const double time = PickTime(input, world.framesPerSecond);
                const double value = PickValue(input);
                const host::KeyId key = scene.AddKey(channelId, time, value);
                ModelKey &modelKey = channel.keys[time];
                modelKey.value = value;
                std::string line = "    key t " + Text(time) + " v " + Text(value);
                if (input.ConsumeBool()) {
                    for (int tag = 2; tag <= 9; ++tag) {
                        const std::uint64_t bits = input.ConsumeIntegral<std::uint64_t>();
                        Slot slot;
                        std::memcpy(slot.data(), &bits, slot.size());
                        scene.SetKeyParameter(key, tag, slot);
                        modelKey.parameters[static_cast<std::size_t>(tag - 2)] = slot;
                    }
                    line += " p2 " + Text(modelKey.parameters[0]) + " ...";
                }
                Tell(line);
            }
            item.channels.push_back(std::move(channel));
        }
        world.items.push_back(std::move(item));
    }
}

// ---------------------------------------------------------------------------
// Running the commands and checking what the host saw.

std::vector<host::ItemId> Ids(const World &world, const std::vector<std::size_t> &selection) {
    std::vector<host::ItemId> ids;
    for (std::size_t index : selection) ids.push_back(world.items[index].id);
    return ids;
}

struct Before {
    std::size_t errors;
    std::size_t panels;
};

Before Mark(const standin::Host &host) {
    return Before{host.Errors().size(), host.Panels().size()};
}

// A refusal shows one message and opens no panel.
void ExpectRefusal(standin::Host &host, const Before &before, const char *message,
                   const std::string &command) {
    if (host.Errors().size() != before.errors + 1)
        Fail(command + ": expected the message \"" + std::string(message) + "\", saw " +
             std::to_string(host.Errors().size() - before.errors) + " messages");
    const auto &[first, second] = host.Errors().back();
    if (standin::Utf8FromCp932(first) != message || !second.empty())
        Fail(command + ": message \"" + standin::Utf8FromCp932(first) + "\" / \"" +
             standin::Utf8FromCp932(second) + "\", expected \"" + message + "\"");
    for (std::size_t p = before.panels; p < host.Panels().size(); ++p)
        if (host.Panels()[p].opened) Fail(command + ": a panel opened although it was refused");
}

// The one panel the command opened, and how the user left it.
void ExpectPanel(standin::Host &host, const Before &before, PanelOutcome outcome,
                 const std::string &command) {
    if (host.Errors().size() != before.errors)
        Fail(command + ": unexpected message \"" +
             standin::Utf8FromCp932(host.Errors().back().first) + "\"");
    if (host.User().Pending() != 0) Fail(command + ": the panel never opened");
    std::size_t opened = 0;
    for (std::size_t p = before.panels; p < host.Panels().size(); ++p)
        if (host.Panels()[p].opened) {
            ++opened;
            if (host.Panels()[p].outcome != outcome)
                Fail(command + ": the panel was " +
                     (outcome == PanelOutcome::Confirm ? "cancelled, expected confirmed"
                                                       : "confirmed, expected cancelled"));
        }
    if (opened != 1) Fail(command + ": " + std::to_string(opened) + " panels opened, expected 1");
}

void Activate(standin::Host &host, const standin::LoadedModule &module, const char *server) {
    const int result = host.Activate(module, server);
    if (result != host::AFUNC_OK) Fail(std::string(server) + " returned " + std::to_string(result));
    if (host.LivePanelCount() != 0) Fail(std::string(server) + " left a panel alive");
}

// One step of the user in the copy panel. Row and choice numbers are read
// raw and fitted to what the panel shows when the step runs.
struct Step {
    enum Kind {
        PickItem,
        PickChannel,
        SetSwitch,
        FlipSwitch,
        Choose,
        TypeFirst,
        TypeLast,
        PickPast
    };
    Kind kind = PickItem;
    int value = 0;
};

// Checks what the user sees of the module's own controls.
void ComparePanel(PanelSession &session, CopyPanel &panel, const std::string &after) {
    const std::vector<std::string> rows = session.RowBytes(CHANNEL_LIST);
    const std::vector<std::string> expected = panel.ChannelRows();
    if (rows != expected) {
        std::string detail = "---- expected rows:\n";
        for (const std::string &row : expected) detail += "  " + Quoted(row) + "\n";
        detail += "---- shown rows:\n";
        for (const std::string &row : rows) detail += "  " + Quoted(row) + "\n";
        Fail("copy panel: the channel list differs after " + after, detail);
    }
    const std::intptr_t shownSwitch = session.Control(ENABLED).value;
    if (shownSwitch != panel.switchValue)
        Fail("copy panel: the switch shows " + std::to_string(shownSwitch) + ", expected " +
             std::to_string(panel.switchValue) + " after " + after);
    const std::intptr_t shownRow = session.Control(CHANNEL_LIST).value;
    if (shownRow != panel.channelRow)
        Fail("copy panel: the channel list is at row " + std::to_string(shownRow) + ", expected " +
             std::to_string(panel.channelRow) + " after " + after);
}

// Runs one step on the host's panel and on the model; throws, as the host's
// user does, for a row that is not shown.
void RunStep(PanelSession &session, CopyPanel &panel, const Step &step, bool unchecked,
             bool &endedByHost) {
    const int itemRows = static_cast<int>(panel.table.size());
    const int channelRows = static_cast<int>(panel.ChannelRows().size());
    // Out-of-range numbers only when the host lets them through.
    const auto fit = [&](int raw, int count) {
        const unsigned spread = static_cast<unsigned>(count) + (unchecked ? 4u : 0u);
        const int row = static_cast<int>(static_cast<unsigned>(raw) % spread);
        return unchecked ? row - 2 : row;
    };
    std::string what;
    switch (step.kind) {
        case Step::PickItem: {
            const int row = fit(step.value, itemRows);
            what = "pick item row " + std::to_string(row);
            session.Pick(ITEM_LIST, row);
            panel.currentItem = row;
            panel.channelRow = 0;
            panel.ShowPickedChannel();
            break;
        }
        case Step::PickChannel: {
            if (channelRows == 0 && !unchecked) return;
            const int row = fit(step.value, channelRows);
            what = "pick channel row " + std::to_string(row);
            session.Pick(CHANNEL_LIST, row);
            panel.channelRow = row;
            panel.ShowPickedChannel();
            break;
        }
        case Step::SetSwitch:
        case Step::FlipSwitch: {
            const bool on =
                step.kind == Step::SetSwitch ? (step.value & 1) != 0 : panel.switchValue == 0;
            what = std::string(step.kind == Step::SetSwitch ? "set" : "flip") + " switch " +
                   (on ? "on" : "off");
            if (step.kind == Step::SetSwitch)
                session.SetBool(ENABLED, on);
            else
                session.Flip(ENABLED);
            panel.switchValue = on ? 1 : 0;
            if (PanelChannel *channel = panel.Channel(panel.channelRow)) channel->enabled = on;
            break;
        }
        case Step::Choose: {
            const int choice = unchecked
                                   ? static_cast<int>(static_cast<unsigned>(step.value) % 9) - 2
                                   : static_cast<int>(static_cast<unsigned>(step.value) % 5);
            what = "choose group " + std::to_string(choice);
            session.Choose(GROUP_POPUP, choice);
            ToggleGroup(panel, choice);
            break;
        }
        case Step::TypeFirst:
        case Step::TypeLast: {
            const bool first = step.kind == Step::TypeFirst;
            what = std::string("type ") + (first ? "first" : "last") + " frame " +
                   std::to_string(step.value);
            session.Type(first ? START_FRAME : END_FRAME, step.value);
            (first ? panel.first : panel.last) = step.value;
            break;
        }
        case Step::PickPast: {
            if (unchecked) {
                static constexpr int FAR[] = {LOWEST, -1, HIGHEST};
                const int row = (step.value & 3) == 3 ? channelRows : FAR[step.value & 3];
                what = "pick channel row " + std::to_string(row);
                session.Pick(CHANNEL_LIST, row);
                panel.channelRow = row;
                panel.ShowPickedChannel();
                break;
            }
            // The host's user throws here, and the host ends the panel as cancelled.
            Tell("    pick channel row " + std::to_string(channelRows) + " (not shown)");
            endedByHost = true;
            session.Pick(CHANNEL_LIST, channelRows);
            Fail("copy panel: the host let the user pick a row it does not show");
        }
    }
    Tell("    " + what);
    ComparePanel(session, panel, what);
}

void RunCopy(FuzzedDataProvider &input, standin::Host &host, const standin::LoadedModule &module,
             World &world) {
    const auto selection =
        PickSelection(input, world.items.size(), input.ConsumeIntegralInRange(0, MAX_SELECTION));
    const bool unchecked = input.ConsumeIntegralInRange(0, 3) == 0;
    std::vector<Step> steps(input.ConsumeIntegralInRange(0, MAX_STEPS));
    for (Step &step : steps) {
        step.kind = static_cast<Step::Kind>(input.ConsumeIntegralInRange(0, 7));
        if (step.kind == Step::PickPast && input.ConsumeIntegralInRange(0, 3) != 0)
            step.kind = Step::PickChannel;  // a rare step, since it ends the panel
        step.value = step.kind == Step::TypeFirst || step.kind == Step::TypeLast
                         ? PickFrame(input)
                         : input.ConsumeIntegral<int>();
    }
    const bool confirm = input.ConsumeIntegralInRange(0, 3) != 0;
    Tell("copy from " + Text(selection) + (unchecked ? ", any row may be picked" : "") + ", then " +
         (confirm ? "confirm" : "cancel"));

    host.Scene().Select(Ids(world, selection));
    host.Misbehave().uncheckedUserValues = unchecked;
    const Before before = Mark(host);
    if (selection.empty()) {
        Activate(host, module, COPY);
        ExpectRefusal(host, before, NO_ITEM_SELECTED, "copy");
        return;
    }

    CopyPanel panel = OpenCopyPanel(world, selection);
    bool endedByHost = false;
    host.User().Then([&](PanelSession &session) {
        std::vector<std::string> itemRows;
        for (const PanelItem &row : panel.table) itemRows.push_back(row.name);
        Expect(session.RowBytes(ITEM_LIST), itemRows, "copy panel: the item list");
        Expect(session.Control(START_FRAME).value, static_cast<std::intptr_t>(panel.first),
               "copy panel: the first frame offered");
        Expect(session.Control(END_FRAME).value, static_cast<std::intptr_t>(panel.last),
               "copy panel: the last frame offered");
        ComparePanel(session, panel, "opening");
        for (const Step &step : steps) {
            try {
                RunStep(session, panel, step, unchecked, endedByHost);
            } catch (const std::exception &error) {
                if (endedByHost) throw;
                Fail(std::string("copy panel: the host refused a step: ") + error.what());
            }
        }
        return confirm ? PanelOutcome::Confirm : PanelOutcome::Cancel;
    });
    Activate(host, module, COPY);
    const bool captured = confirm && !endedByHost;
    ExpectPanel(host, before, captured ? PanelOutcome::Confirm : PanelOutcome::Cancel, "copy");
    if (captured) {
        world.clipboard = Capture(world, panel);
        std::string line = "  copied frames " + std::to_string(panel.first) + " to " +
                           std::to_string(panel.last) + ":";
        for (const auto &item : world.clipboard.items) {
            line += " {";
            for (const ClipChannel &channel : item)
                line += " " + Quoted(channel.name) + "x" + std::to_string(channel.keys.size());
            line += " }";
        }
        Tell(line);
    }
}

void RunPaste(FuzzedDataProvider &input, standin::Host &host, const standin::LoadedModule &module,
              World &world) {
    const std::size_t length = input.ConsumeBool() ? world.clipboard.items.size()
                                                   : input.ConsumeIntegralInRange(0, MAX_SELECTION);
    const auto selection = PickSelection(input, world.items.size(), length);
    const bool typeStart = input.ConsumeBool();
    const std::int32_t start = typeStart ? PickFrame(input) : world.clipboard.first;
    const bool confirm = input.ConsumeIntegralInRange(0, 3) != 0;
    Tell("paste onto " + Text(selection) + " at " +
         (typeStart ? std::to_string(start) : "the offered frame") + ", then " +
         (confirm ? "confirm" : "cancel"));

    host.Scene().Select(Ids(world, selection));
    const Before before = Mark(host);
    const char *refusal = !world.clipboard.filled                            ? NOTHING_COPIED
                          : selection.empty()                                ? NO_ITEM_SELECTED
                          : selection.size() != world.clipboard.items.size() ? COUNT_MISMATCH
                                                                             : nullptr;
    if (refusal != nullptr) {
        Activate(host, module, PASTE);
        ExpectRefusal(host, before, refusal, "paste");
        return;
    }
    host.User().Then([&](PanelSession &session) {
        try {
            Expect(session.Control(PASTE_START).value,
                   static_cast<std::intptr_t>(world.clipboard.first),
                   "paste panel: the start frame offered");
            if (typeStart) session.Type(PASTE_START, start);
        } catch (const std::exception &error) {
            Fail(std::string("paste panel: the host refused a step: ") + error.what());
        }
        return confirm ? PanelOutcome::Confirm : PanelOutcome::Cancel;
    });
    Activate(host, module, PASTE);
    ExpectPanel(host, before, confirm ? PanelOutcome::Confirm : PanelOutcome::Cancel, "paste");
    if (confirm) Paste(world, selection, start);
}

// ---------------------------------------------------------------------------
// The module, loaded once.

std::unique_ptr<standin::LoadedModule> module;

// What the clipboard holds between inputs.
ModelClipboard restingClipboard;

// Leaves the clipboard holding one item without channels and the frames
// a new scene offers.
void ResetClipboard() {
    standin::Host host;
    host.Scene().Select({host.Scene().AddItem("reset")});
    host.User().Then([](PanelSession &) { return PanelOutcome::Confirm; });
    const Before before = Mark(host);
    Activate(host, *module, COPY);
    ExpectPanel(host, before, PanelOutcome::Confirm, "resetting copy");
    restingClipboard =
        ModelClipboard{true, {{}}, host.Scene().FrameStart(), host.Scene().FrameEnd()};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *flag = std::getenv("TAMBERLO_FUZZ_VERBOSE");
    verbose = flag != nullptr && *flag != '\0' && *flag != '0';
    // Another build of the module may be named at run time, such as the
    // tree's own Tamberlo.p; without coverage counters it is still compared.
    const char *path = std::getenv("TAMBERLO_FUZZ_MODULE");
    try {
        module = std::make_unique<standin::LoadedModule>(
            path != nullptr && *path != '\0' ? path : TAMBERLO_MODULE_PATH);
    } catch (const standin::LoadError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        std::exit(1);
    }
    // While nothing has been copied, a paste is refused whatever is selected.
    standin::Host host;
    World world;
    const host::ItemId item = host.Scene().AddItem("A");
    world.items.push_back(ModelItem{"A", item, {}});
    for (std::size_t selected = 0; selected < 2; ++selected) {
        host.Scene().Select(std::vector<host::ItemId>(selected, item));
        const Before before = Mark(host);
        Activate(host, *module, PASTE);
        ExpectRefusal(host, before, NOTHING_COPIED, "paste before any copy");
        CompareScene(host.Scene(), world, "a paste before any copy");
    }
    ResetClipboard();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    World world;
    world.clipboard = restingClipboard;

    standin::Host host;
    standin::Scene &scene = host.Scene();
    BuildScene(input, scene, world);
    CompareScene(scene, world, "building the scene");

    const int operations = input.ConsumeIntegralInRange(1, MAX_OPERATIONS);
    for (int i = 0; i < operations; ++i) {
        switch (input.ConsumeIntegralInRange(0, 9)) {
            case 0:
            case 1:
            case 2:
            case 3:
                RunCopy(input, host, *module, world);
                CompareScene(scene, world, "copy " + std::to_string(i));
                break;
            case 4:
            case 5:
            case 6:
            case 7:
                RunPaste(input, host, *module, world);
                CompareScene(scene, world, "paste " + std::to_string(i));
                break;
            case 8:
                world.framesPerSecond = PickRate(input);
                scene.SetFramesPerSecond(world.framesPerSecond);
                Tell("rate becomes " + Text(world.framesPerSecond) + " fps");
                break;
            default:
                world.frameStart = PickFrame(input);
                world.frameEnd = PickFrame(input);
                scene.SetFrames(world.frameStart, world.frameEnd);
                Tell("scene frames become " + std::to_string(world.frameStart) + " to " +
                     std::to_string(world.frameEnd));
                break;
        }
    }
    if (verbose) {
        for (const std::string &line : story) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "----\n");
    }
    // Nothing of this input outlives it, or libFuzzer would take what is
    // kept for a leak and run the input again to check: the story is let go,
    // and the clipboard's content made here is replaced by the resting one.
    std::vector<std::string>().swap(story);
    ResetClipboard();
    return 0;
}
