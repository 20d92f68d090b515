// The scene-file reader and writer under libFuzzer. Any input is either
// refused with a SceneFileError, or it reads and writes back to the very same
// bytes; then one change, drawn from the input, is made to the scene: one
// channel's keys alone, or its behaviours alone, or one key's shape or one of
// its parameters alone, or a channel added to an item that lacks it, or every
// channel changed and every missing one added. The scene then writes a text
// that reads back to the same scene, every key bit for bit, and writes again
// to the same text, with no more line ends unlike its first line's than the
// input had. Inputs are also tried made CRLF and without their last line
// end; behaviours and shapes are drawn at and past the ends of 0 to 5, and
// writing one past them must be refused.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "scenefile/scene_file.h"
#include "standin/standin.h"

namespace {

[[noreturn]] void Fail(const char *what, const std::string &text) {
    std::fprintf(stderr, "scene file fuzzer: %s\n--- text ---\n%s\n------------\n", what,
                 text.c_str());
    std::abort();
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameScene(const standin::Scene &a, const standin::Scene &b) {
    const auto itemsA = a.Items(), itemsB = b.Items();
    if (itemsA.size() != itemsB.size() || a.FrameStart() != b.FrameStart() ||
        a.FrameEnd() != b.FrameEnd() || !SameBits(a.FramesPerSecond(), b.FramesPerSecond()))
        return false;
    for (std::size_t i = 0; i < itemsA.size(); ++i) {
        if (a.ItemName(itemsA[i]) != b.ItemName(itemsB[i])) return false;
        const auto channelsA = a.Channels(itemsA[i]);
        if (channelsA.size() != b.Channels(itemsB[i]).size()) return false;
        for (const standin::ChannelState &channel : channelsA) {
            const auto other = b.FindChannel(itemsB[i], channel.name);
            if (!other) return false;
            host::EnvelopeId envelopeB = nullptr;
            for (const standin::ChannelState &candidate : b.Channels(itemsB[i]))
                if (candidate.id == *other) envelopeB = candidate.envelope;
            for (int attribute = 0; attribute < host::ENVELOPE_ATTRIBUTE_COUNT; ++attribute)
                if (a.Attribute(channel.envelope, attribute) != b.Attribute(envelopeB, attribute))
                    return false;
            const auto keysA = a.Keys(channel.envelope), keysB = b.Keys(envelopeB);
            if (keysA.size() != keysB.size()) return false;
            for (std::size_t k = 0; k < keysA.size(); ++k)
                if (!SameBits(keysA[k].value, keysB[k].value) ||
                    !SameBits(keysA[k].time, keysB[k].time) ||
                    keysA[k].parameters != keysB[k].parameters)
                    return false;
        }
    }
    return true;
}

// The line ends of a text that are CRLF, or that are LF alone.
std::size_t LineEnds(const std::string &text, bool crlf) {
    std::size_t count = 0;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        count += (at > 0 && text[at - 1] == '\r') == crlf;
    return count;
}

// Every channel of every item with a motion block, as item and channel.
std::vector<std::pair<host::ItemId, standin::ChannelState>> MotionChannels(
    const standin::Scene &scene) {
    std::vector<std::pair<host::ItemId, standin::ChannelState>> channels;
    for (host::ItemId item : scene.Items())
        for (const standin::ChannelState &channel : scene.Channels(item))
            channels.emplace_back(item, channel);
    return channels;
}

host::KeySlot NumberSlot(double number) {
    host::KeySlot slot{};
    std::memcpy(slot.data(), &number, sizeof number);
    return slot;
}

// Changes every channel of every item that has one, and adds the motion
// channels such an item lacks, with keys whose every field is set.
void ChangeEveryChannel(standin::Scene &scene, std::mt19937_64 &random) {
    double value = static_cast<double>(random() % 1000003) / 7.0 - 50.0;
    for (host::ItemId item : scene.Items()) {
        if (scene.Channels(item).empty()) continue;
        for (const char *name : standin::MOTION_CHANNEL_NAMES)
            if (!scene.FindChannel(item, name)) scene.AddChannel(item, name);
        for (const standin::ChannelState &channel : scene.Channels(item)) {
            const auto keys = scene.Keys(channel.envelope);
            const double time = (keys.empty() ? 0.0 : keys.back().time) + 0.1 + value / 1e6;
            const host::KeyId key =
                scene.AddKey(channel.id, std::isfinite(time) ? time : 0.0, value);
            scene.SetKeyParameter(key, host::LWKEY_SHAPE,
                                  standin::ShapeSlot(static_cast<int>(random() % 6)));
            scene.SetKeyParameter(key, host::LWKEY_PARAM_2, NumberSlot(value / 3.0));
            value = value * 1.1 + 0.3;
        }
    }
}

// A behaviour or a shape of `count`, often at or just past an end; `holdable`
// says whether it is one of them.
int AtTheEnds(std::mt19937_64 &random, int count, bool &holdable) {
    const int ends[] = {-1, 0, count - 1, count}, pick = static_cast<int>(random() % 8);
    const int drawn =
        pick < 4 ? ends[pick] : static_cast<int>(random() % static_cast<unsigned>(count));
    holdable = drawn >= 0 && drawn < count;
    return drawn;
}

// Changes one part of one channel, or adds one channel, or changes every
// channel; says what it did, and whether a scene file can hold the result.
std::string ChangeScene(standin::Scene &scene, std::mt19937_64 &random, bool &holdable) {
    const auto channels = MotionChannels(scene);
    enum Change { KEY_VALUE, NEW_KEY, BEHAVIOUR, SHAPE, PARAMETER, NEW_CHANNEL, EVERY_CHANNEL };
    const int change = static_cast<int>(random() % 7);
    const double number =
        static_cast<double>(static_cast<std::int64_t>(random() % 2000001) - 1000000) / 64.0;
    if (channels.empty() || change == EVERY_CHANNEL) {
        ChangeEveryChannel(scene, random);
        return "every channel changed";
    }
    const auto &[item, channel] = channels[random() % channels.size()];
    const auto keys = scene.Keys(channel.envelope);
    const std::string where = scene.ItemName(item) + " " + channel.name;
    if (change == NEW_CHANNEL) {
        // The first missing from a drawn one on, so that it may follow the item's last block.
        for (std::size_t at = random() % 9, end = at + 9; at < end; ++at) {
            const char *name = standin::MOTION_CHANNEL_NAMES[at % 9];
            if (scene.FindChannel(item, name)) continue;
            const host::ChannelId added = scene.AddChannel(item, name);
            if (random() % 2 == 0) scene.AddKey(added, number / 30.0, number);
            return std::string("channel ") + name + " added to " + scene.ItemName(item);
        }
        return "no channel to add to " + scene.ItemName(item);
    }
    if (change == BEHAVIOUR) {
        const int which = static_cast<int>(random() % 2);
        const int behaviour = AtTheEnds(random, standin::SCENE_BEHAVIOUR_COUNT, holdable);
        scene.SetAttribute(channel.envelope, which, behaviour);
        return where + ": behaviour " + std::to_string(which) + " set to " +
               std::to_string(behaviour);
    }
    if (keys.empty() || change == NEW_KEY) {
        const double time = (keys.empty() ? 0.0 : keys.back().time) + 1.0 / 64.0;
        scene.AddKey(channel.id, std::isfinite(time) ? time : 0.0, number);
        return where + ": a key added";
    }
    const standin::KeyState &key = keys[random() % keys.size()];
    if (change == KEY_VALUE) {
        scene.AddKey(channel.id, key.time, number);
        return where + ": one key's value alone changed";
    }
    if (change == SHAPE) {
        const int shape = AtTheEnds(random, standin::SCENE_SHAPE_COUNT, holdable);
        scene.SetKeyParameter(key.id, host::LWKEY_SHAPE, standin::ShapeSlot(shape));
        return where + ": one key's shape alone set to " + std::to_string(shape);
    }
    const int tag = host::LWKEY_TENSION + static_cast<int>(random() % 6);
    scene.SetKeyParameter(key.id, tag, NumberSlot(number));
    return where + ": one key's parameter " + std::to_string(tag) + " alone changed";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    std::uint64_t seed = 1469598103934665603ull;
    for (unsigned char byte : input) seed = (seed ^ byte) * 1099511628211ull;
    std::mt19937_64 random(seed);
    const auto variant = random() % 4;
    if (variant % 2 == 1 && input.find('\r') == std::string::npos)
        for (std::size_t at = input.find('\n'); at != std::string::npos;
             at = input.find('\n', at + 2))
            input.insert(at, 1, '\r');
    if (variant >= 2 && input.ends_with('\n')) input.pop_back();
    if (variant >= 2 && input.ends_with('\r')) input.pop_back();
    standin::Scene scene;
    std::optional<standin::SceneFile> file;
    try {
        file.emplace(standin::SceneFile::Read(input, scene, "input.lws"));
    } catch (const standin::SceneFileError &) {
        return 0;
    }
    if (file->Write(scene) != input) Fail("an unchanged scene wrote other bytes", input);

    bool holdable = true;
    const std::string change = ChangeScene(scene, random, holdable);
    std::string written;
    try {
        written = file->Write(scene);
    } catch (const standin::SceneFileError &error) {
        if (holdable) Fail((change + ", then: " + error.what()).c_str(), input);
        return 0;
    }
    if (!holdable) Fail((change + ", which a file cannot hold, was written").c_str(), written);
    // New blocks end their lines as the first line does; after a last line
    // that ends in a lone CR, that makes one CRLF.
    const bool crlf = input.find("\r\n") + 1 == input.find('\n');
    if (LineEnds(written, !crlf) > LineEnds(input, !crlf) + input.ends_with('\r'))
        Fail((change + ", then lines ended unlike the first line").c_str(), written);
    standin::Scene again;
    try {
        const standin::SceneFile reread = standin::SceneFile::Read(written, again, "written.lws");
        if (!SameScene(scene, again))
            Fail((change + ", then the written text read back to another scene").c_str(), written);
        if (reread.Write(again) != written)
            Fail((change + ", then the written text wrote other bytes").c_str(), written);
    } catch (const standin::SceneFileError &error) {
        Fail((change + ", then: " + error.what()).c_str(), written);
    }
    return 0;
}
