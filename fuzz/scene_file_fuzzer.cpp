// The scene-file reader and writer under libFuzzer. Any input is either
// refused with a SceneFileError, or it reads, writes back to the very same
// bytes, and, once every channel has been changed (and the missing motion
// channels added) so that all of them are written anew, writes a text that
// reads back to the same scene and writes again to the same text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "standin/scene_file.h"
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

// Changes every channel of every item that has one, and adds the motion
// channels such an item lacks, with keys whose every field is set.
void ChangeEveryChannel(standin::Scene &scene, std::uint64_t seed) {
    double value = static_cast<double>(seed % 1000003) / 7.0 - 50.0;
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
                                  standin::ShapeSlot(static_cast<int>(seed % 6)));
            host::KeySlot slot{};
            const double parameter = value / 3.0;
            std::memcpy(slot.data(), &parameter, sizeof parameter);
            scene.SetKeyParameter(key, host::LWKEY_PARAM_2, slot);
            value = value * 1.1 + 0.3;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    standin::Scene scene;
    std::optional<standin::SceneFile> file;
    try {
        file.emplace(standin::SceneFile::Read(input, scene, "input.lws"));
    } catch (const standin::SceneFileError &) {
        return 0;
    }
    if (file->Write(scene) != input) Fail("an unchanged scene wrote other bytes", input);

    std::uint64_t seed = 1469598103934665603ull;
    for (unsigned char byte : input) seed = (seed ^ byte) * 1099511628211ull;
    ChangeEveryChannel(scene, seed);
    std::string written;
    try {
        written = file->Write(scene);
    } catch (const standin::SceneFileError &error) {
        Fail(error.what(), input);
    }
    standin::Scene again;
    try {
        const standin::SceneFile reread = standin::SceneFile::Read(written, again, "written.lws");
        if (!SameScene(scene, again)) Fail("the written text read back to another scene", written);
        if (reread.Write(again) != written) Fail("the written text wrote other bytes", written);
    } catch (const standin::SceneFileError &error) {
        Fail(error.what(), written);
    }
    return 0;
}
