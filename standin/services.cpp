// The animation and message services, and the global lookup that hands out
// every service table.
//
// The tables are plain C: each function finds the host it serves through
// Host::Current(), does nothing when there is none, and ignores identifiers
// that the scene never handed out, answering null or 0 as the real host does.
//
// Trace arguments are `name=value` pairs separated by spaces, in the order of
// the function's parameters: identifiers as their serial number or "null",
// module text as quoted UTF-8, doubles in their shortest exact form.
#include <charconv>
#include <cstring>
#include <string>

#include "standin/host_internal.h"

namespace standin {

std::string RenderHandle(const void *handle) {
    if (handle == nullptr) return "null";
    return KeyStore::IsKeyHandle(handle) ? KeyStore::Render(handle)
                                         : std::to_string(SerialOf(handle));
}

std::string RenderText(const char *cp932) {
    if (cp932 == nullptr) return "null";
    return '"' + Utf8FromCp932(cp932) + '"';
}

std::string RenderDouble(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

namespace {

std::string RenderBytes(const void *slot) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    const auto *bytes = static_cast<const unsigned char *>(slot);
    for (int i = 0; i < host::KEY_SLOT_BYTES; ++i) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 0x0F];
    }
    return text;
}

std::string KeyArguments(host::EnvelopeId envelope, host::KeyId key, int tag) {
    return "envelope=" + RenderHandle(envelope) + " key=" + RenderHandle(key) +
           " tag=" + std::to_string(tag);
}

// What keySet is about to write, as the trace shows it.
std::string RenderSlot(int tag, const void *slot) {
    if (slot == nullptr) return " slot=null";
    if (tag == host::LWKEY_VALUE || tag == host::LWKEY_TIME) {
        double value;
        std::memcpy(&value, slot, sizeof value);
        return " value=" + RenderDouble(value);
    }
    if (tag >= host::LWKEY_SHAPE && tag < host::KEY_PARAMETER_COUNT)
        return " bytes=" + RenderBytes(slot);
    return "";
}

}  // namespace

struct Host::Services {
    static constexpr const char *ITEM_INFO = host::ITEM_INFO_NAME;
    static constexpr const char *CHANNEL_INFO = host::CHANNEL_INFO_NAME;
    static constexpr const char *ENVELOPES = host::ENVELOPE_FUNCS_NAME;
    static constexpr const char *MESSAGES = host::MESSAGE_FUNCS_NAME;

    static Scene::Impl &SceneOf(Host &host) { return SceneAccess::Of(host.scene_); }

    // Records a breach of `rule` by a call whose arguments `render` renders.
    template <typename Render>
    static void Breach(Host &host, Rule rule, const char *service, const char *operation,
                       Render &&render) {
        host.Violate(rule, service, operation, render());
    }

    // Whether `envelope` is one the host handed out; one that is not is
    // recorded as a breach.
    template <typename Render>
    static bool CheckEnvelope(Host &host, const char *operation, host::EnvelopeId envelope,
                              Render &&render) {
        if (SceneOf(host).FindEnvelope(envelope) != nullptr) return true;
        Breach(host, Rule::KeyOfTheEnvelope, ENVELOPES, operation, render);
        return false;
    }

    // -- "LW Item Info 3"

    static const Scene::Impl::Item *FindItem(const char *operation, host::ItemId item) {
        const auto arguments = [&] { return "item=" + RenderHandle(item); };
        Host *host = EnterService(ITEM_INFO, operation, arguments);
        if (host == nullptr) return nullptr;
        const Scene::Impl::Item *record = SceneOf(*host).FindItem(item);
        if (record == nullptr)
            Breach(*host, Rule::KnownIdentifier, ITEM_INFO, operation, arguments);
        return record;
    }

    static const char *ItemName(host::ItemId item) {
        const Scene::Impl::Item *record = FindItem("name", item);
        return record == nullptr ? nullptr : record->name.c_str();
    }

    static host::ChannelGroupId ChannelGroup(host::ItemId item) {
        const Scene::Impl::Item *record = FindItem("chanGroup", item);
        return record == nullptr ? nullptr : record->group;
    }

    // -- "Channel Info 2"

    static host::ChannelId NextChannel(host::ChannelGroupId group, host::ChannelId previous) {
        const auto arguments = [&] {
            return "group=" + RenderHandle(group) + " previous=" + RenderHandle(previous);
        };
        Host *host = EnterService(CHANNEL_INFO, "nextChannel", arguments);
        if (host == nullptr) return nullptr;
        Scene::Impl &scene = SceneOf(*host);
        const Scene::Impl::Channel *channel =
            previous == nullptr ? nullptr : scene.FindChannel(previous);
        if (scene.FindGroup(group) == nullptr ||
            (previous != nullptr && (channel == nullptr || channel->group != group)))
            Breach(*host, Rule::KnownIdentifier, CHANNEL_INFO, "nextChannel", arguments);
        return scene.NextChannel(group, previous);
    }

    static const Scene::Impl::Channel *FindChannel(const char *operation, host::ChannelId channel) {
        const auto arguments = [&] { return "channel=" + RenderHandle(channel); };
        Host *host = EnterService(CHANNEL_INFO, operation, arguments);
        if (host == nullptr) return nullptr;
        const Scene::Impl::Channel *record = SceneOf(*host).FindChannel(channel);
        if (record == nullptr)
            Breach(*host, Rule::KnownIdentifier, CHANNEL_INFO, operation, arguments);
        return record;
    }

    static const char *ChannelName(host::ChannelId channel) {
        const Scene::Impl::Channel *record = FindChannel("channelName", channel);
        return record == nullptr ? nullptr : record->name.c_str();
    }

    static int ChannelType(host::ChannelId channel) {
        const Scene::Impl::Channel *record = FindChannel("channelType", channel);
        return record == nullptr ? 0 : record->type;
    }

    static host::EnvelopeId ChannelEnvelope(host::ChannelId channel) {
        const Scene::Impl::Channel *record = FindChannel("channelEnvelope", channel);
        return record == nullptr ? nullptr : record->envelope;
    }

    // -- "Animation Envelopes"

    static host::EnvelopeId CreateEnvelope(host::ChannelGroupId group, const char *name,
                                           int channelType) {
        const auto arguments = [&] {
            return "group=" + RenderHandle(group) + " name=" + RenderText(name) +
                   " type=" + std::to_string(channelType);
        };
        Host *host = EnterService(ENVELOPES, "create", arguments);
        if (host == nullptr) return nullptr;
        Scene::Impl &scene = SceneOf(*host);
        Scene::Impl::Group *record = scene.FindGroup(group);
        if (record == nullptr) {
            Breach(*host, Rule::KnownIdentifier, ENVELOPES, "create", arguments);
            return nullptr;
        }
        if (scene.misbehaviour.refuseCreate) return nullptr;
        return scene.NewChannel(*record, name == nullptr ? "" : name, channelType).envelope;
    }

    static host::KeyId CreateKey(host::EnvelopeId envelope, double time, double value) {
        const auto arguments = [&] {
            return "envelope=" + RenderHandle(envelope) + " time=" + RenderDouble(time) +
                   " value=" + RenderDouble(value);
        };
        Host *host = EnterService(ENVELOPES, "createKey", arguments);
        if (host == nullptr || !CheckEnvelope(*host, "createKey", envelope, arguments))
            return nullptr;
        Scene::Impl &scene = SceneOf(*host);
        if (scene.misbehaviour.refuseCreateKey) return nullptr;
        return scene.CreateKey(*scene.FindEnvelope(envelope), time, value);
    }

    static void DestroyKey(host::EnvelopeId envelope, host::KeyId key) {
        const auto arguments = [&] {
            return "envelope=" + RenderHandle(envelope) + " key=" + RenderHandle(key);
        };
        Host *host = EnterService(ENVELOPES, "destroyKey", arguments);
        if (KeyOfCall(host, "destroyKey", envelope, key, arguments) == nullptr) return;
        SceneOf(*host).DestroyKey(key);
    }

    static host::KeyId NextKey(host::EnvelopeId envelope, host::KeyId previous) {
        const auto arguments = [&] {
            return "envelope=" + RenderHandle(envelope) + " previous=" + RenderHandle(previous);
        };
        Host *host = EnterService(ENVELOPES, "nextKey", arguments);
        if (host == nullptr ||
            (previous == nullptr
                 ? !CheckEnvelope(*host, "nextKey", envelope, arguments)
                 : KeyOfCall(host, "nextKey", envelope, previous, arguments) == nullptr))
            return nullptr;
        return SceneOf(*host).NextKey(envelope, previous);
    }

    // The envelope a key call names and the key in it, one lookup of each,
    // since walks make millions of these calls. An envelope the host never
    // handed out is recorded as a breach and leaves both null; a key that is
    // not a live key of the envelope is recorded as a breach of `rule` (or of
    // NoDestroyedKey, for a destroyed key) and leaves the key null.
    struct KeyCall {
        Scene::Impl::Envelope *envelope = nullptr;
        KeyRecord *key = nullptr;
    };
    template <typename Render>
    static KeyCall CheckKeyCall(Host *host, Rule rule, const char *operation,
                                host::EnvelopeId envelope, host::KeyId key, Render &&render) {
        if (host == nullptr) return {};
        Scene::Impl &scene = SceneOf(*host);
        KeyCall call{scene.FindEnvelope(envelope), nullptr};
        if (call.envelope == nullptr) {
            Breach(*host, Rule::KeyOfTheEnvelope, ENVELOPES, operation, render);
            return call;
        }
        call.key = scene.keyStore.Find(call.envelope->keys, key);
        if (call.key == nullptr)
            Breach(*host, scene.WasDestroyed(key) ? Rule::NoDestroyedKey : rule, ENVELOPES,
                   operation, render);
        return call;
    }

    // The key a keyGet or keySet may touch, or null after recording the breach.
    template <typename Render>
    static KeyRecord *KeyOfCall(Host *host, const char *operation, host::EnvelopeId envelope,
                                host::KeyId key, Render &&render) {
        return CheckKeyCall(host, Rule::KeyOfTheEnvelope, operation, envelope, key, render).key;
    }

    // Tags 0 and 1 are the key's value and time as doubles; tags 2 to 9 are
    // eight bytes the host keeps without reading them.
    static int KeyGet(host::EnvelopeId envelope, host::KeyId key, int tag, void *slot) {
        const auto arguments = [&] { return KeyArguments(envelope, key, tag); };
        Host *host = EnterService(ENVELOPES, "keyGet", arguments);
        const KeyRecord *record = KeyOfCall(host, "keyGet", envelope, key, arguments);
        if (record == nullptr || slot == nullptr) return 0;
        if (tag == host::LWKEY_VALUE) {
            std::memcpy(slot, &record->value, sizeof record->value);
        } else if (tag == host::LWKEY_TIME) {
            std::memcpy(slot, &record->time, sizeof record->time);
        } else if (tag >= host::LWKEY_SHAPE && tag < host::KEY_PARAMETER_COUNT) {
            std::memcpy(
                slot, record->parameters[static_cast<std::size_t>(tag - host::LWKEY_SHAPE)].data(),
                host::KEY_SLOT_BYTES);
        } else {
            return 0;
        }
        return 1;
    }

    static int KeySet(host::EnvelopeId envelope, host::KeyId key, int tag, void *slot) {
        const auto arguments = [&] {
            return KeyArguments(envelope, key, tag) + RenderSlot(tag, slot);
        };
        Host *host = EnterService(ENVELOPES, "keySet", arguments);
        const KeyCall call =
            CheckKeyCall(host, Rule::KeyOfTheEnvelope, "keySet", envelope, key, arguments);
        KeyRecord *record = call.key;
        if (record == nullptr || slot == nullptr) return 0;
        if (tag == host::LWKEY_VALUE) {
            call.envelope->keys.NoteEdit();
            std::memcpy(&record->value, slot, sizeof(double));
            return 1;
        }
        if (tag == host::LWKEY_TIME) {
            double time;
            std::memcpy(&time, slot, sizeof time);
            return SceneOf(*host).MoveKey(key, time) ? 1 : 0;
        }
        if (tag >= host::LWKEY_SHAPE && tag < host::KEY_PARAMETER_COUNT) {
            host::KeySlot &parameter =
                record->parameters[static_cast<std::size_t>(tag - host::LWKEY_SHAPE)];
            call.envelope->keys.NoteEdit();
            std::memcpy(parameter.data(), slot, host::KEY_SLOT_BYTES);
            return 1;
        }
        return 0;
    }

    // The attributes belong to the envelope; the key in the channel-group
    // position does not choose among them, but it must be a key of that
    // envelope.
    static int EnvelopeGet(host::EnvelopeId envelope, host::ChannelGroupId group, int tag,
                           int *value) {
        const auto arguments = [&] {
            return "envelope=" + RenderHandle(envelope) + " group=" + RenderHandle(group) +
                   " tag=" + std::to_string(tag);
        };
        Host *host = EnterService(ENVELOPES, "egGet", arguments);
        int *attribute = Attribute(host, "egGet", envelope, group, tag, arguments);
        if (attribute == nullptr || value == nullptr) return 0;
        *value = *attribute;
        return 1;
    }

    static int EnvelopeSet(host::EnvelopeId envelope, host::ChannelGroupId group, int tag,
                           int *value) {
        const auto arguments = [&] {
            return "envelope=" + RenderHandle(envelope) + " group=" + RenderHandle(group) +
                   " tag=" + std::to_string(tag) +
                   " value=" + (value == nullptr ? "null" : std::to_string(*value));
        };
        Host *host = EnterService(ENVELOPES, "egSet", arguments);
        int *attribute = Attribute(host, "egSet", envelope, group, tag, arguments);
        if (attribute == nullptr || value == nullptr) return 0;
        SceneOf(*host).FindEnvelope(envelope)->keys.NoteEdit();
        *attribute = *value;
        return 1;
    }

    template <typename Render>
    static int *Attribute(Host *host, const char *operation, host::EnvelopeId envelope,
                          host::ChannelGroupId keyAsGroup, int tag, Render &&render) {
        const KeyCall call =
            CheckKeyCall(host, Rule::AttributeKeyOfTheEnvelope, operation, envelope,
                         reinterpret_cast<host::KeyId>(keyAsGroup), render);
        if (call.envelope == nullptr || tag < 0 || tag >= host::ENVELOPE_ATTRIBUTE_COUNT)
            return nullptr;
        return &call.envelope->attributes[static_cast<std::size_t>(tag)];
    }

    // -- "Info Messages 2"

    static void Error(const char *line1, const char *line2) {
        Host *host = EnterService(MESSAGES, "error", [&] {
            return "line1=" + RenderText(line1) + " line2=" + RenderText(line2);
        });
        if (host == nullptr) return;
        std::string first = line1 == nullptr ? "" : line1;
        std::string second = line2 == nullptr ? "" : line2;
        std::string shown = "error: " + Utf8FromCp932(first);
        if (!second.empty()) shown += " / " + Utf8FromCp932(second);
        host->errors_.emplace_back(std::move(first), std::move(second));
        host->Say(std::move(shown));
    }

    // -- The global lookup

    static void *Lookup(const char *serviceName, int use) {
        Host *host = EnterService("global", serviceName == nullptr ? "null" : serviceName,
                                  [&] { return "use=" + std::to_string(use); });
        if (host == nullptr || serviceName == nullptr) return nullptr;
        if (host->Misbehave().missingService == serviceName) return nullptr;
        // Modules receive the tables as mutable pointers, as the host API types them.
        static host::ItemInfo itemInfo{ItemName, ChannelGroup};
        static host::ChannelInfo channelInfo{NextChannel, ChannelName, ChannelType,
                                             ChannelEnvelope};
        static host::EnvelopeFuncs envelopeFuncs{CreateEnvelope, CreateKey,  DestroyKey,
                                                 NextKey,        KeyGet,     KeySet,
                                                 EnvelopeGet,    EnvelopeSet};
        static host::MessageFuncs messageFuncs{Error};
        const std::string_view name = serviceName;
        Scene::Impl &scene = SceneOf(*host);
        if (name == host::ITEM_INFO_NAME) return &itemInfo;
        if (name == host::INTERFACE_INFO_NAME) return &scene.interfaceInfo;
        if (name == host::PANEL_SERVICES_NAME) return PanelState::Services();
        if (name == host::SCENE_INFO_NAME) return &scene.sceneInfo;
        if (name == host::CHANNEL_INFO_NAME) return &channelInfo;
        if (name == host::ENVELOPE_FUNCS_NAME) return &envelopeFuncs;
        if (name == host::MESSAGE_FUNCS_NAME) return &messageFuncs;
        return nullptr;
    }
};

host::GlobalFunc GlobalLookup() {
    return Host::Services::Lookup;
}

host::GlobalFunc Host::Global() const {
    return GlobalLookup();
}

}  // namespace standin
