#include "scenefile/file_keys.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "scenefile/scene_file.h"

namespace standin {

namespace {

constexpr std::size_t Slot(int tag) {
    return static_cast<std::size_t>(tag - host::LWKEY_SHAPE);
}

std::string Number(double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", number);
    return text;
}

// What is wrong with key `index` in a scene file, or nothing.
std::string FaultOf(std::span<const FileKey> keys, std::size_t index) {
    const FileKey &key = keys[index];
    const std::string where = "key " + std::to_string(index) + ": ";
    const struct {
        const char *name;
        double number;
    } numbers[] = {{"time", key.time},       {"value", key.value},
                   {"tension", key.tension}, {"continuity", key.continuity},
                   {"bias", key.bias},       {"param_0", key.param0},
                   {"param_1", key.param1},  {"param_2", key.param2}};
    for (const auto &[name, number] : numbers)
        if (!std::isfinite(number)) return where + "its " + name + " is not a finite number";
    if (key.shape < 0 || key.shape >= SCENE_SHAPE_COUNT)
        return where + "its shape " + std::to_string(key.shape) + " is not one of 0 to 5";
    if (index > 0 && !(keys[index - 1].time < key.time))
        return where + "its time " + Number(key.time) + " is not after the time of key " +
               std::to_string(index - 1) + ", " + Number(keys[index - 1].time) +
               " (times increase strictly)";
    return {};
}

}  // namespace

std::vector<FileKey> ReadFileKeys(const Scene &scene, host::EnvelopeId envelope) {
    std::vector<FileKey> keys;
    for (const KeyState &state : scene.Keys(envelope)) {
        const host::KeyRawSlots &slots = state.parameters;
        FileKey key;
        key.time = state.time;
        key.value = state.value;
        std::memcpy(&key.shape, slots[Slot(host::LWKEY_SHAPE)].data(), sizeof key.shape);
        key.tension = SlotNumber(slots[Slot(host::LWKEY_TENSION)]);
        key.continuity = SlotNumber(slots[Slot(host::LWKEY_CONTINUITY)]);
        key.bias = SlotNumber(slots[Slot(host::LWKEY_BIAS)]);
        key.param0 = SlotNumber(slots[Slot(host::LWKEY_PARAM_0)]);
        key.param1 = SlotNumber(slots[Slot(host::LWKEY_PARAM_1)]);
        key.param2 = SlotNumber(slots[Slot(host::LWKEY_PARAM_2)]);
        keys.push_back(key);
    }
    return keys;
}

void ReplaceFileKeys(Scene &scene, const ChannelState &channel, std::span<const FileKey> keys) {
    for (std::size_t index = 0; index < keys.size(); ++index)
        if (const std::string fault = FaultOf(keys, index); !fault.empty())
            throw std::invalid_argument(fault);
    for (const KeyState &old : scene.Keys(channel.envelope)) scene.RemoveKey(old.id);
    for (const FileKey &key : keys) {
        host::KeyRawSlots slots{};
        slots[Slot(host::LWKEY_SHAPE)] = ShapeSlot(key.shape);
        slots[Slot(host::LWKEY_TENSION)] = NumberSlot(key.tension);
        slots[Slot(host::LWKEY_CONTINUITY)] = NumberSlot(key.continuity);
        slots[Slot(host::LWKEY_BIAS)] = NumberSlot(key.bias);
        slots[Slot(host::LWKEY_PARAM_0)] = NumberSlot(key.param0);
        slots[Slot(host::LWKEY_PARAM_1)] = NumberSlot(key.param1);
        slots[Slot(host::LWKEY_PARAM_2)] = NumberSlot(key.param2);
        scene.AddKey(channel.id, key.time, key.value, slots);
    }
}

Behaviours EnvelopeBehaviours(const Scene &scene, host::EnvelopeId envelope) {
    return {scene.Attribute(envelope, 0), scene.Attribute(envelope, 1)};
}

void SetEnvelopeBehaviours(Scene &scene, host::EnvelopeId envelope, Behaviours behaviours) {
    for (const int behaviour : {behaviours.pre, behaviours.post})
        if (behaviour < 0 || behaviour >= SCENE_BEHAVIOUR_COUNT)
            throw std::invalid_argument("a behaviour is one of 0 to 5, not " +
                                        std::to_string(behaviour));
    scene.SetAttribute(envelope, 0, behaviours.pre);
    scene.SetAttribute(envelope, 1, behaviours.post);
}

}  // namespace standin
