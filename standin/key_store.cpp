#include "standin/key_store.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

namespace standin {

namespace {

// A key handle: the top bit marks it as a key's, the low bits name its slot
// and the bits between hold the slot's generation. Other handles of the scene
// are small serial numbers and never carry the top bit.
constexpr unsigned HANDLE_BITS = sizeof(std::uintptr_t) * 8;
constexpr std::uintptr_t KEY_TAG = std::uintptr_t{1} << (HANDLE_BITS - 1);
constexpr unsigned SLOT_BITS = HANDLE_BITS == 64 ? 32 : 24;
constexpr std::uintptr_t SLOT_MASK = (std::uintptr_t{1} << SLOT_BITS) - 1;
constexpr std::uintptr_t GENERATION_MASK = (KEY_TAG - 1) >> SLOT_BITS;

// Blocks hold this many records at most.
constexpr std::size_t BLOCK_CAPACITY = 256;
// A key created this close to its block's end shifts the records after it;
// farther in, a key of a run created in time order splits the block there,
// and any other key shifts them unless the block is full, which then splits
// in halves.
constexpr std::size_t SHIFT_LIMIT = 16;

std::uintptr_t Bits(const void *handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

host::KeyId Handle(std::size_t slot, std::uint32_t generation) {
    return reinterpret_cast<host::KeyId>(KEY_TAG | ((generation & GENERATION_MASK) << SLOT_BITS) |
                                         static_cast<std::uintptr_t>(slot));
}

std::size_t SlotOf(const void *handle) {
    return static_cast<std::size_t>(Bits(handle) & SLOT_MASK);
}

std::uintptr_t GenerationOf(const void *handle) {
    return (Bits(handle) >> SLOT_BITS) & GENERATION_MASK;
}

}  // namespace

EnvelopeKeys::~EnvelopeKeys() = default;

bool KeyStore::IsKeyHandle(const void *handle) {
    return (Bits(handle) & KEY_TAG) != 0;
}

std::string KeyStore::Render(const void *handle) {
    std::string text = std::to_string(SlotOf(handle) + 1);
    if (const std::uintptr_t generation = GenerationOf(handle); generation != 0)
        text.append(".").append(std::to_string(generation));
    return text;
}

const KeyStore::Slot *KeyStore::LiveSlot(host::KeyId key) const {
    if (!IsKeyHandle(key) || SlotOf(key) >= slots_.size()) return nullptr;
    const Slot &slot = slots_[SlotOf(key)];
    if (slot.block == nullptr || (slot.generation & GENERATION_MASK) != GenerationOf(key))
        return nullptr;
    return &slot;
}

KeyStore::Slot *KeyStore::LiveSlot(host::KeyId key) {
    return const_cast<Slot *>(std::as_const(*this).LiveSlot(key));
}

bool KeyStore::WasDestroyed(host::KeyId key) const {
    return IsKeyHandle(key) && SlotOf(key) < slots_.size() && LiveSlot(key) == nullptr;
}

std::size_t KeyStore::IndexIn(const KeyBlock &block, double time) {
    const auto found =
        std::lower_bound(block.keys.begin(), block.keys.end(), time,
                         [](const KeyRecord &record, double t) { return record.time < t; });
    return static_cast<std::size_t>(found - block.keys.begin());
}

void KeyStore::SetCursor(EnvelopeKeys &keys, Place place) {
    keys.cursor_ = {place.block->keys[place.index].id, place.block, place.index};
}

KeyStore::Place KeyStore::Locate(EnvelopeKeys &keys, double time) {
    if (keys.blocks_.empty()) return {nullptr, 0};
    // Keys are mostly created in time order, each just after the previous
    // one: the cursor then already stands before the place.
    const EnvelopeKeys::Cursor &cursor = keys.cursor_;
    if (cursor.block != nullptr && cursor.index < cursor.block->keys.size()) {
        KeyBlock &block = *cursor.block;
        const KeyRecord &at = block.keys[cursor.index];
        if (at.id == cursor.id && at.time == time) return {&block, cursor.index, true};
        if (at.id == cursor.id && at.time < time) {
            const std::size_t after = cursor.index + 1;
            if (after < block.keys.size()) {
                if (block.keys[after].time >= time) return {&block, after, true};
            } else if (block.index + 1 == keys.blocks_.size()) {
                return {&block, after, true};
            } else if (KeyBlock &next = *keys.blocks_[block.index + 1];
                       next.keys.front().time >= time) {
                // A record of that very time is where it stands, at the front
                // of the next block; otherwise the place is this block's end.
                return next.keys.front().time == time ? Place{&next, 0, true}
                                                      : Place{&block, after, true};
            }
        }
    }
    const auto found = std::lower_bound(keys.blocks_.begin(), keys.blocks_.end(), time,
                                        [](const std::unique_ptr<KeyBlock> &block, double t) {
                                            return block->keys.back().time < t;
                                        });
    if (found == keys.blocks_.end()) {
        KeyBlock &last = *keys.blocks_.back();
        return {&last, last.keys.size()};
    }
    return {found->get(), IndexIn(**found, time)};
}

KeyBlock *KeyStore::NewBlock(EnvelopeKeys &keys, std::size_t at) {
    auto block = std::make_unique<KeyBlock>();
    block->owner = &keys;
    KeyBlock *made = block.get();
    keys.blocks_.insert(keys.blocks_.begin() + static_cast<std::ptrdiff_t>(at), std::move(block));
    for (std::size_t i = at; i < keys.blocks_.size(); ++i) keys.blocks_[i]->index = i;
    return made;
}

KeyBlock *KeyStore::Split(KeyBlock &block, std::size_t from) {
    const auto first = block.keys.begin() + static_cast<std::ptrdiff_t>(from);
    const auto moved = static_cast<std::size_t>(
        std::count_if(first, block.keys.end(), [](const KeyRecord &r) { return r.Live(); }));
    if (moved == 0) {
        // Only dead records: they are dropped rather than moved.
        block.keys.erase(first, block.keys.end());
        return nullptr;
    }
    KeyBlock *upper = NewBlock(*block.owner, block.index + 1);
    upper->keys.assign(std::make_move_iterator(first), std::make_move_iterator(block.keys.end()));
    block.keys.erase(first, block.keys.end());
    upper->live = moved;
    block.live -= moved;
    for (const KeyRecord &record : upper->keys)
        if (record.Live()) slots_[SlotOf(record.id)].block = upper;
    return upper;
}

void KeyStore::Insert(EnvelopeKeys &keys, Place place, const KeyRecord &record) {
    if (place.block == nullptr) place = {NewBlock(keys, 0), 0};
    std::vector<KeyRecord> &records = place.block->keys;
    std::size_t target = place.index;
    const bool atEnd = place.index == records.size();
    if (!atEnd && !records[place.index].Live()) {
        // A dead record at or just after the place: the new key takes it.
    } else if (place.index > 0 && !records[place.index - 1].Live()) {
        target = place.index - 1;  // a dead record just before the place
    } else if (records.size() < BLOCK_CAPACITY &&
               (atEnd || records.size() - place.index <= SHIFT_LIMIT)) {
        records.insert(records.begin() + static_cast<std::ptrdiff_t>(place.index), record);
    } else if (atEnd) {
        // A full block: the key starts the next block (or a new one).
        KeyBlock &block = *place.block;
        const bool roomNext = block.index + 1 < keys.blocks_.size() &&
                              keys.blocks_[block.index + 1]->keys.size() < BLOCK_CAPACITY;
        place = {roomNext ? keys.blocks_[block.index + 1].get() : NewBlock(keys, block.index + 1),
                 0};
        place.block->keys.insert(place.block->keys.begin(), record);
        target = 0;
    } else if (place.inRun) {
        // The middle of a block, in a run: split it here, so that this key and
        // the ones created after it are appended.
        Split(*place.block, place.index);
        records.push_back(record);
    } else {
        if (records.size() == BLOCK_CAPACITY) {
            const std::size_t half = BLOCK_CAPACITY / 2;
            KeyBlock *upper = Split(*place.block, half);
            if (upper == nullptr)  // the upper half held only dead records, now dropped
                place.index = std::min(place.index, place.block->keys.size());
            else if (place.index > half)
                place = {upper, place.index - half};
            target = place.index;
        }
        place.block->keys.insert(place.block->keys.begin() + static_cast<std::ptrdiff_t>(target),
                                 record);
    }
    if (target < place.block->keys.size() && place.block->keys[target].id != record.id)
        place.block->keys[target] = record;
    place.index = target;
    ++place.block->live;
    ++keys.count_;
    Slot &slot = slots_[SlotOf(record.id)];
    slot.block = place.block;
    slot.time = record.time;
    SetCursor(keys, place);
}

void KeyStore::Kill(Place place) {
    KeyBlock &block = *place.block;
    EnvelopeKeys &keys = *block.owner;
    block.keys[place.index].id = nullptr;
    --block.live;
    --keys.count_;
    if (block.live == 0) {
        const std::size_t at = block.index;
        keys.blocks_.erase(keys.blocks_.begin() + static_cast<std::ptrdiff_t>(at));
        for (std::size_t i = at; i < keys.blocks_.size(); ++i) keys.blocks_[i]->index = i;
        keys.cursor_ = {};
        return;
    }
    // Dead records are dropped once they outnumber the live ones, so a block
    // never holds more dead records than its live keys pay for.
    if (block.keys.size() > SHIFT_LIMIT && block.keys.size() - block.live > block.live) {
        std::erase_if(block.keys, [](const KeyRecord &record) { return !record.Live(); });
        if (keys.cursor_.block == &block) keys.cursor_ = {};
    }
}

host::KeyId KeyStore::Create(EnvelopeKeys &keys, double time, double value) {
    if (!std::isfinite(time)) return nullptr;
    keys.NoteEdit();
    const Place place = Locate(keys, time);
    if (place.block != nullptr && place.index < place.block->keys.size()) {
        KeyRecord &existing = place.block->keys[place.index];
        if (existing.Live() && existing.time == time) {
            existing.value = value;
            SetCursor(keys, place);
            return existing.id;
        }
    }
    std::size_t slot = 0;
    if (!freeSlots_.empty()) {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        if (slots_.size() > SLOT_MASK) return nullptr;  // every handle is taken
        slot = slots_.size();
        slots_.emplace_back();
    }
    const host::KeyId id = Handle(slot, slots_[slot].generation);
    Insert(keys, place, KeyRecord{time, value, {}, id});
    ++live_;
    return id;
}

KeyRecord *KeyStore::Find(EnvelopeKeys &keys, host::KeyId key) {
    const EnvelopeKeys::Cursor &cursor = keys.cursor_;
    if (key != nullptr && cursor.id == key && cursor.index < cursor.block->keys.size() &&
        cursor.block->keys[cursor.index].id == key)
        return &cursor.block->keys[cursor.index];
    const Slot *slot = LiveSlot(key);
    if (slot == nullptr || slot->block->owner != &keys) return nullptr;
    const Place place{slot->block, IndexIn(*slot->block, slot->time)};
    SetCursor(keys, place);
    return &place.block->keys[place.index];
}

KeyRecord *KeyStore::Find(host::KeyId key) {
    const Slot *slot = LiveSlot(key);
    return slot == nullptr ? nullptr : Find(*slot->block->owner, key);
}

KeyRecord *KeyStore::FindToChange(host::KeyId key) {
    const Slot *slot = LiveSlot(key);
    if (slot == nullptr) return nullptr;
    EnvelopeKeys &keys = *slot->block->owner;
    keys.NoteEdit();
    return Find(keys, key);
}

void KeyStore::Destroy(host::KeyId key) {
    Slot *slot = LiveSlot(key);
    if (slot == nullptr) return;
    slot->block->owner->NoteEdit();
    Kill({slot->block, IndexIn(*slot->block, slot->time)});
    slot->block = nullptr;
    ++slot->generation;
    freeSlots_.push_back(static_cast<std::uint32_t>(SlotOf(key)));
    --live_;
}

bool KeyStore::Move(host::KeyId key, double time) {
    Slot *slot = LiveSlot(key);
    if (slot == nullptr || !std::isfinite(time)) return false;
    if (slot->time == time) return true;
    EnvelopeKeys &keys = *slot->block->owner;
    const Place taken = Locate(keys, time);
    if (taken.block != nullptr && taken.index < taken.block->keys.size() &&
        taken.block->keys[taken.index].time == time && taken.block->keys[taken.index].Live())
        return false;
    keys.NoteEdit();
    const Place from{slot->block, IndexIn(*slot->block, slot->time)};
    KeyRecord record = from.block->keys[from.index];
    Kill(from);
    record.time = time;
    Insert(keys, Locate(keys, time), record);
    return true;
}

const KeyRecord *KeyStore::Next(EnvelopeKeys &keys, host::KeyId previous) {
    Place place{nullptr, 0};
    if (previous == nullptr) {
        if (keys.blocks_.empty()) return nullptr;
        place = {keys.blocks_.front().get(), 0};
    } else {
        if (Find(keys, previous) == nullptr) return nullptr;
        place = {keys.cursor_.block, keys.cursor_.index + 1};
    }
    // Dead records are stepped over, into the following blocks if need be.
    while (true) {
        std::vector<KeyRecord> &records = place.block->keys;
        while (place.index < records.size() && !records[place.index].Live()) ++place.index;
        if (place.index < records.size()) break;
        if (place.block->index + 1 == keys.blocks_.size()) return nullptr;
        place = {keys.blocks_[place.block->index + 1].get(), 0};
    }
    SetCursor(keys, place);
    return &place.block->keys[place.index];
}

}  // namespace standin
