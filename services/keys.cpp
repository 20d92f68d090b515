#include "services/keys.h"

namespace tamberlo {

namespace {

// The attribute getter and setter take the key where they declare a channel
// group.
host::ChannelGroupId KeyAsGroup(host::KeyId key) {
    return reinterpret_cast<host::ChannelGroupId>(key);
}

}  // namespace

void ReadKey(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope, host::KeyId keyId,
             ClipKey &key) {
    envelopes.keyGet(envelope, keyId, host::LWKEY_VALUE, &key.value);
    envelopes.keyGet(envelope, keyId, host::LWKEY_TIME, &key.time);
    for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag)
        envelopes.keyGet(envelope, keyId, tag, key.parameters[tag - host::LWKEY_SHAPE].data());
    for (int attribute = 0; attribute < host::ENVELOPE_ATTRIBUTE_COUNT; ++attribute)
        envelopes.egGet(envelope, KeyAsGroup(keyId), attribute, &key.attributes[attribute]);
}

void WriteKey(const host::EnvelopeFuncs &envelopes, host::EnvelopeId envelope, host::KeyId keyId,
              const ClipKey &source, double placedTime) {
    // The setters get copies, so that nothing the host does with the pointers
    // can reach the clipboard.
    double value = source.value;
    envelopes.keySet(envelope, keyId, host::LWKEY_VALUE, &value);
    double time = placedTime;
    envelopes.keySet(envelope, keyId, host::LWKEY_TIME, &time);
    for (int tag = host::LWKEY_SHAPE; tag < host::KEY_PARAMETER_COUNT; ++tag) {
        host::KeySlot slot = source.parameters[tag - host::LWKEY_SHAPE];
        envelopes.keySet(envelope, keyId, tag, slot.data());
    }
    for (int attribute = 0; attribute < host::ENVELOPE_ATTRIBUTE_COUNT; ++attribute) {
        int stored = source.attributes[attribute];
        envelopes.egSet(envelope, KeyAsGroup(keyId), attribute, &stored);
    }
}

}  // namespace tamberlo
