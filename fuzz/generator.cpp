#include "fuzz/generator.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace fuzz {

namespace {

// Small enough that an input runs in well under a millisecond.
constexpr int MAX_ITEMS = 4;
constexpr int MAX_CHANNELS = 6;
constexpr int MAX_KEYS = 12;

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
// Shift_JIS pieces for names: two-byte characters whose lead bytes open and
// close both lead-byte ranges (0x81, 0x9F; 0xE0, 0xFC), bytes just outside
// them that are characters of one byte (0x80, 0xA0, 0xDF, 0xFD), and lead
// bytes with nothing after them.
const std::vector<std::string> SHIFT_JIS_PIECES = {
    "\x81\x40", "\x9F\xFC", "\xE0\x40", "\xFC\xFC", "\x82\xA0",  // あ
    "\x80\x41", "\xA0\x41", "\xDF\x41", "\xFD\x41", "\x81",     "\xFC",
};

// The last rate makes the frame of a key at time 0 not a number.
const std::vector<double> RATES = {
    23.976, 29.97,  0.5,   24.0, 25.0,
    30.0,   59.94,  60.0,  7.3,  1e-3,
    1000.0, 1e-300, 1e300, 0.1,  std::numeric_limits<double>::infinity()};

// A name with a Shift_JIS piece at its start or across the last byte that a
// field of `bytes` bytes keeps (starting two bytes before it to one after),
// maybe with a channel group's prefix and a character after it.
std::string PickShiftJisName(FuzzedDataProvider &input, std::size_t bytes, bool channel) {
    const std::string prefix = channel && input.ConsumeBool() ? "Position." : "";
    const std::string &piece =
        SHIFT_JIS_PIECES[input.ConsumeIntegralInRange<std::size_t>(0, SHIFT_JIS_PIECES.size() - 1)];
    const int placement = input.ConsumeIntegralInRange(0, 4);
    const std::size_t start = placement == 0 ? prefix.size() : bytes - 3 + placement;
    std::string name = prefix + std::string(start - prefix.size(), 'n') + piece;
    if (input.ConsumeBool()) name += "\x82\xA0x";
    return name;
}

}  // namespace

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
        // One past the list: a name in Shift_JIS.
        const std::size_t name = input.ConsumeIntegralInRange<std::size_t>(0, ITEM_NAMES.size());
        item.name = name < ITEM_NAMES.size() ? ITEM_NAMES[name]
                                             : PickShiftJisName(input, ITEM_NAME_BYTES, false);
        item.id = scene.AddItem(item.name);
        Tell("item " + std::to_string(i) + " " + Quoted(item.name));
        const int channelCount = input.ConsumeIntegralInRange(0, MAX_CHANNELS);
        for (int c = 0; c < channelCount; ++c) {
            ModelChannel channel;
            // The first name comes up more often, so that items share
            // channels; the last pick is a name in Shift_JIS.
            const std::size_t pick =
                input.ConsumeIntegralInRange<std::size_t>(0, CHANNEL_NAMES.size() + 4);
            channel.name = pick == CHANNEL_NAMES.size() + 4
                               ? PickShiftJisName(input, CHANNEL_NAME_BYTES, true)
                               : CHANNEL_NAMES[pick < CHANNEL_NAMES.size() ? pick : 0];
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

}  // namespace fuzz
