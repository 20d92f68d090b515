// The scene the stand-in host holds: items, their channels, the envelopes
// behind them and their keys, the selection and the timing.
//
// Scenes reach millions of keys; how they are kept is the key store's
// business (standin/key_store.h).
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "standin/host_internal.h"

namespace standin {

Scene::Impl::Impl() : selectionList{nullptr} {
    interfaceInfo.selItems = selectionList.data();
}

namespace {

// The record a handle names in one of the scene's indexes, or null.
template <typename Index, typename Handle>
auto *Lookup(Index &index, Handle handle) {
    const auto found = index.find(handle);
    return found == index.end() ? nullptr : &found->second;
}

}  // namespace

Scene::Impl::Item *Scene::Impl::FindItem(host::ItemId item) {
    return Lookup(items, item);
}

Scene::Impl::Group *Scene::Impl::FindGroup(host::ChannelGroupId group) {
    return Lookup(groups, group);
}

Scene::Impl::Channel *Scene::Impl::FindChannel(host::ChannelId channel) {
    return Lookup(channels, channel);
}

Scene::Impl::Envelope *Scene::Impl::FindEnvelope(host::EnvelopeId envelope) {
    if (lastEnvelope != nullptr && lastEnvelope->id == envelope && envelope != nullptr)
        return lastEnvelope;
    Envelope *found = Lookup(envelopes, envelope);
    if (found != nullptr) lastEnvelope = found;
    return found;
}

KeyRecord *Scene::Impl::FindKey(host::EnvelopeId envelope, host::KeyId key) {
    Envelope *record = FindEnvelope(envelope);
    return record == nullptr ? nullptr : keyStore.Find(record->keys, key);
}

host::ItemId Scene::Impl::NewItem(std::string name) {
    const auto itemId = Mint<host::ItemId>();
    const auto groupId = Mint<host::ChannelGroupId>();
    items.emplace(itemId, Item{itemId, std::move(name), groupId});
    groups.emplace(groupId, Group{groupId, {}, {}});
    itemOrder.push_back(itemId);
    return itemId;
}

Scene::Impl::Channel &Scene::Impl::NewChannel(Group &group, std::string name, int type) {
    const auto envelopeId = Mint<host::EnvelopeId>();
    envelopes.try_emplace(envelopeId).first->second.id = envelopeId;
    const auto channelId = Mint<host::ChannelId>();
    auto [position, inserted] = channels.emplace(
        channelId,
        Channel{channelId, std::move(name), type, envelopeId, group.id, group.channels.size()});
    group.channels.push_back(channelId);
    return position->second;
}

host::ChannelId Scene::Impl::NextChannel(host::ChannelGroupId groupId, host::ChannelId previous) {
    Group *group = FindGroup(groupId);
    if (group == nullptr) return nullptr;
    const std::vector<host::ChannelId> &members = group->channels;
    std::size_t nextIndex = 0;
    if (previous != nullptr) {
        const Channel *channel = FindChannel(previous);
        if (channel == nullptr || channel->group != groupId) return nullptr;
        nextIndex = channel->indexInGroup + 1;
    }
    const host::ChannelId first = members.empty() ? nullptr : members.front();
    const host::ChannelId realNext = nextIndex < members.size() ? members[nextIndex] : nullptr;
    return group->walk.Step(previous == nullptr, first, realNext, misbehaviour.secondWalkDrift,
                            [&](host::ChannelId member, int count) {
                                const std::size_t index = FindChannel(member)->indexInGroup;
                                return members.size() - index > static_cast<std::size_t>(count);
                            });
}

host::KeyId Scene::Impl::NextKey(host::EnvelopeId envelopeId, host::KeyId previous) {
    Envelope *envelope = FindEnvelope(envelopeId);
    if (envelope == nullptr) return nullptr;
    const KeyRecord *next = keyStore.Next(envelope->keys, previous);
    const host::KeyId realNext = next == nullptr ? nullptr : next->id;
    const int drift = misbehaviour.secondWalkDrift;
    if (drift == 0) return realNext;
    // Only a misbehaving host needs the first key and what remains.
    const KeyRecord *first = keyStore.Next(envelope->keys, nullptr);
    return envelope->walk.Step(previous == nullptr, first == nullptr ? nullptr : first->id,
                               realNext, drift, [&](host::KeyId from, int count) {
                                   host::KeyId key = from;
                                   for (int i = 0; i < count && key != nullptr; ++i) {
                                       const KeyRecord *after = keyStore.Next(envelope->keys, key);
                                       key = after == nullptr ? nullptr : after->id;
                                   }
                                   return key != nullptr;
                               });
}

void Scene::Impl::SetSelection(std::vector<host::ItemId> items) {
    selectionList = std::move(items);
    selectionList.push_back(nullptr);
    interfaceInfo.selItems = selectionList.data();
}

// ---------------------------------------------------------------------------
// The scene as tests and programs build and read it. Naming something the
// scene does not hold is a mistake in the caller, so it throws here, unlike
// the services, which ignore what they do not know as the real host does.

namespace {

[[noreturn]] void Unknown(const char *what) {
    throw std::invalid_argument(std::string("the scene has no such ") + what);
}

template <typename Record>
Record &Require(Record *record, const char *what) {
    if (record == nullptr) Unknown(what);
    return *record;
}

std::size_t RequireAttribute(int attribute) {
    if (attribute < 0 || attribute >= host::ENVELOPE_ATTRIBUTE_COUNT)
        throw std::out_of_range("envelope attributes run from 0 to 2");
    return static_cast<std::size_t>(attribute);
}

}  // namespace

Scene::Scene() : impl_(std::make_unique<Impl>()) {}
Scene::~Scene() = default;

host::ItemId Scene::AddItem(std::string name) {
    return impl_->NewItem(std::move(name));
}

host::ChannelId Scene::AddChannel(host::ItemId item, std::string name, int type) {
    const Impl::Item &owner = Require(impl_->FindItem(item), "item");
    return impl_->NewChannel(*impl_->FindGroup(owner.group), std::move(name), type).id;
}

void Scene::DetachEnvelope(host::ChannelId channel) {
    Require(impl_->FindChannel(channel), "channel").envelope = nullptr;
}

host::KeyId Scene::AddKey(host::ChannelId channel, double time, double value) {
    const Impl::Channel &owner = Require(impl_->FindChannel(channel), "channel");
    Impl::Envelope &envelope = Require(impl_->FindEnvelope(owner.envelope), "envelope");
    if (!std::isfinite(time)) throw std::invalid_argument("a key needs a finite time");
    return impl_->CreateKey(envelope, time, value);
}

host::KeyId Scene::AddKey(host::ChannelId channel, double time, double value,
                          const host::KeyRawSlots &parameters) {
    const host::KeyId key = AddKey(channel, time, value);
    Require(impl_->keyStore.FindToChange(key), "key").parameters = parameters;
    return key;
}

void Scene::SetKeyParameter(host::KeyId key, int tag, const host::KeySlot &slot) {
    if (tag < host::LWKEY_SHAPE || tag >= host::KEY_PARAMETER_COUNT)
        throw std::out_of_range("key parameter tags run from 2 to 9");
    Require(impl_->keyStore.FindToChange(key), "key")
        .parameters[static_cast<std::size_t>(tag - host::LWKEY_SHAPE)] = slot;
}

void Scene::RemoveKey(host::KeyId key) {
    Require(impl_->keyStore.Find(key), "key");
    impl_->DestroyKey(key);
}

void Scene::SetAttribute(host::EnvelopeId envelope, int attribute, int value) {
    Impl::Envelope &record = Require(impl_->FindEnvelope(envelope), "envelope");
    const std::size_t index = RequireAttribute(attribute);
    record.keys.NoteEdit();
    record.attributes[index] = value;
}

int Scene::Attribute(host::EnvelopeId envelope, int attribute) const {
    return Require(impl_->FindEnvelope(envelope), "envelope")
        .attributes[RequireAttribute(attribute)];
}

std::vector<host::ItemId> Scene::Items() const {
    return impl_->itemOrder;
}

std::optional<host::ItemId> Scene::FindItem(std::string_view name) const {
    for (host::ItemId item : impl_->itemOrder)
        if (impl_->items.at(item).name == name) return item;
    return std::nullopt;
}

std::optional<host::ChannelId> Scene::FindChannel(host::ItemId item, std::string_view name) const {
    const Impl::Item *owner = impl_->FindItem(item);
    if (owner == nullptr) return std::nullopt;
    for (host::ChannelId channel : impl_->groups.at(owner->group).channels)
        if (impl_->channels.at(channel).name == name) return channel;
    return std::nullopt;
}

std::string Scene::ItemName(host::ItemId item) const {
    return Require(impl_->FindItem(item), "item").name;
}

host::ChannelGroupId Scene::GroupOf(host::ItemId item) const {
    return Require(impl_->FindItem(item), "item").group;
}

std::vector<ChannelState> Scene::Channels(host::ItemId item) const {
    const Impl::Item &owner = Require(impl_->FindItem(item), "item");
    std::vector<ChannelState> states;
    for (host::ChannelId id : impl_->groups.at(owner.group).channels) {
        const Impl::Channel &channel = impl_->channels.at(id);
        states.push_back(ChannelState{channel.id, channel.name, channel.type, channel.envelope});
    }
    return states;
}

std::vector<KeyState> Scene::Keys(host::EnvelopeId envelope) const {
    const Impl::Envelope &record = Require(impl_->FindEnvelope(envelope), "envelope");
    std::vector<KeyState> states;
    states.reserve(record.keys.Count());
    record.keys.ForEach([&](const KeyRecord &key) {
        states.push_back(KeyState{key.id, key.value, key.time, key.parameters});
    });
    return states;
}

std::uint64_t Scene::EnvelopeEdits(host::EnvelopeId envelope) const {
    return Require(impl_->FindEnvelope(envelope), "envelope").keys.Edits();
}

std::size_t Scene::KeyCount(host::EnvelopeId envelope) const {
    return Require(impl_->FindEnvelope(envelope), "envelope").keys.Count();
}

std::size_t Scene::TotalKeyCount() const {
    return impl_->keyStore.LiveCount();
}

void Scene::Select(std::vector<host::ItemId> items) {
    // A null entry would end the module's view of the list early.
    if (std::find(items.begin(), items.end(), nullptr) != items.end())
        throw std::invalid_argument("a selection cannot hold a null item");
    impl_->SetSelection(std::move(items));
}

std::vector<host::ItemId> Scene::Selection() const {
    // The host's list without the null that ends it.
    return {impl_->selectionList.begin(), impl_->selectionList.end() - 1};
}

void Scene::SetFrames(int frameStart, int frameEnd) {
    impl_->sceneInfo.frameStart = frameStart;
    impl_->sceneInfo.frameEnd = frameEnd;
}

void Scene::SetFramesPerSecond(double fps) {
    impl_->sceneInfo.framesPerSecond = fps;
}

int Scene::FrameStart() const {
    return impl_->sceneInfo.frameStart;
}
int Scene::FrameEnd() const {
    return impl_->sceneInfo.frameEnd;
}
double Scene::FramesPerSecond() const {
    return impl_->sceneInfo.framesPerSecond;
}

Misbehaviour &Scene::Misbehave() {
    return impl_->misbehaviour;
}

}  // namespace standin
