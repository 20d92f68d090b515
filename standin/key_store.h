// The keys of every envelope in the stand-in's scene, and the handles the
// module holds for them. Internal to the stand-in host.
//
// A motion-capture scene holds millions of keys, and the module walks them,
// reads them, clears windows in the middle of long envelopes and creates keys
// there. So each envelope keeps its keys in time order in contiguous blocks,
// and a walk moves through memory. A destroyed key leaves a dead record that
// keeps its time, so removing a key shifts nothing; a key created where dead
// records lie takes one of them, so refilling a cleared window shifts nothing
// either. A key created in the middle of a block with no dead record at hand
// splits the block there, and the keys created after it in time order are
// appended to the block. A handle names a slot of the store's index, which
// says which block holds the key and at what time; the slot's generation
// changes when the key is destroyed, so a stale handle is told from a live one
// without remembering every destroyed key.
//
// Each envelope remembers the key it last handed out or found (its cursor),
// so walking on from that key, and reading or writing it, as the module does
// after every nextKey and createKey, needs no index lookup at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace standin {

struct KeyRecord {
    double time = 0.0;
    double value = 0.0;
    host::KeyRawSlots parameters{};  // tags LWKEY_SHAPE on
    host::KeyId id = nullptr;        // null in a dead record

    bool Live() const { return id != nullptr; }
};

struct KeyBlock;

// One envelope's keys, in time order.
class EnvelopeKeys {
  public:
    EnvelopeKeys() = default;
    EnvelopeKeys(const EnvelopeKeys &) = delete;
    EnvelopeKeys &operator=(const EnvelopeKeys &) = delete;
    EnvelopeKeys(EnvelopeKeys &&) = delete;
    ~EnvelopeKeys();

    std::size_t Count() const { return count_; }
    // How many times the envelope has been changed: a key created, destroyed,
    // moved or rewritten, or an attribute set. Two equal counts mean nothing
    // changed in between, which lets a reader of the scene skip comparing
    // millions of keys. The store counts its own changes; whoever writes a
    // record or an attribute in place notes it here.
    std::uint64_t Edits() const { return edits_; }
    void NoteEdit() { ++edits_; }

    // Calls `visit(record)` for every key, in time order.
    template <typename Visit>
    void ForEach(Visit &&visit) const;

  private:
    friend class KeyStore;
    struct Cursor {
        host::KeyId id = nullptr;
        KeyBlock *block = nullptr;
        std::size_t index = 0;
    };

    std::vector<std::unique_ptr<KeyBlock>> blocks_;
    std::size_t count_ = 0;
    std::uint64_t edits_ = 0;
    Cursor cursor_;
};

// A run of an envelope's records, live and dead, in time order; never empty
// of live keys while it is among its owner's blocks.
struct KeyBlock {
    EnvelopeKeys *owner = nullptr;
    std::size_t index = 0;  // its place among the owner's blocks
    std::size_t live = 0;
    std::vector<KeyRecord> keys;
};

template <typename Visit>
void EnvelopeKeys::ForEach(Visit &&visit) const {
    for (const auto &block : blocks_)
        for (const KeyRecord &record : block->keys)
            if (record.Live()) visit(record);
}

class KeyStore {
  public:
    // A new key of `keys`, or, at the time of an existing key, that key with
    // the new value; null for a time that is not finite.
    host::KeyId Create(EnvelopeKeys &keys, double time, double value);
    // The key when it is a live key of `keys` (or of any envelope), else
    // null. The record stays valid until the next change to the store.
    KeyRecord *Find(EnvelopeKeys &keys, host::KeyId key);
    KeyRecord *Find(host::KeyId key);
    // The key, to be changed in place: its envelope notes the edit.
    KeyRecord *FindToChange(host::KeyId key);
    // Removes a live key; its handle is stale from then on.
    void Destroy(host::KeyId key);
    // Moves a live key to another time, keeping its handle and parameters;
    // false, leaving it where it was, for a time that is not finite or that
    // another key of the envelope holds.
    bool Move(host::KeyId key, double time);
    // The key after `previous` (the first key when it is null), or null at
    // the end or when `previous` is not a live key of `keys`.
    const KeyRecord *Next(EnvelopeKeys &keys, host::KeyId previous);

    // Whether the handle was a key of this store once and has been destroyed.
    bool WasDestroyed(host::KeyId key) const;
    std::size_t LiveCount() const { return live_; }

    // Whether a handle has the form of a key handle, and its text in traces.
    static bool IsKeyHandle(const void *handle);
    static std::string Render(const void *handle);

  private:
    struct Slot {
        KeyBlock *block = nullptr;  // null while the slot is free
        double time = 0.0;
        std::uint32_t generation = 0;
    };
    struct Place {
        KeyBlock *block;
        std::size_t index;
        // Found just after the envelope's cursor: the key is one of a run
        // created in time order.
        bool inRun = false;
    };

    Slot *LiveSlot(host::KeyId key);
    const Slot *LiveSlot(host::KeyId key) const;
    static std::size_t IndexIn(const KeyBlock &block, double time);
    // Where a record of `time` is, or would go: the first record at or after
    // that time; {null, 0} in an envelope without blocks.
    Place Locate(EnvelopeKeys &keys, double time);
    // Stores a live record at `place` (from Locate) and indexes it there.
    void Insert(EnvelopeKeys &keys, Place place, const KeyRecord &record);
    KeyBlock *NewBlock(EnvelopeKeys &keys, std::size_t at);
    // Moves the records of `block` from `from` on to a new block after it.
    KeyBlock *Split(KeyBlock &block, std::size_t from);
    // Makes the live record at `place` dead; drops its block when no live
    // record is left in it.
    void Kill(Place place);
    void SetCursor(EnvelopeKeys &keys, Place place);

    std::vector<Slot> slots_;
    std::vector<std::uint32_t> freeSlots_;
    std::size_t live_ = 0;
};

}  // namespace standin
