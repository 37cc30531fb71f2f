// Open-addressing hash tables for the search's lookups: which segments were found blocked, and
// which node a corner point has. Keys are raw bits, so 0.0 and -0.0 stay apart and a NaN finds
// its own bits, exactly as the byte comparison of the lists does.
//
// Memory comes from BlockAllocate (zero-filled: an all-zero slot is an empty one). Nothing here
// throws: a table that cannot get the memory to grow says so (false) and stays as it was.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/memory.h"

// Spreads every input bit over the whole word (MurmurHash3's finaliser): float bits vary mostly
// in their upper half, and the table takes the low bits.
inline uint64_t MixBits(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

// Linear probing over a power-of-two array kept at most three quarters full: about the memory
// of a set with control bytes, and a miss still ends within a cache line or two. A Slot is 8 to 16
// bytes or so with bool Empty() (true for all zero bits), uint64_t Hash() and bool Same(const
// Slot&).
template <class Slot>
struct HashTable {
    Slot* slots = nullptr;  // nullptr until the first Reserve
    uint32_t mask = 0;      // slot count - 1
    int32_t count = 0;
};

// The slot holding key's key, or nullptr.
template <class Slot>
inline Slot* FindSlot(const HashTable<Slot>& table, const Slot& key) {
    if (!table.slots) return nullptr;
    for (uint32_t i = static_cast<uint32_t>(key.Hash()) & table.mask;; i = (i + 1) & table.mask) {
        Slot& slot = table.slots[i];
        if (slot.Empty()) return nullptr;
        if (slot.Same(key)) return &slot;
    }
}

template <class Slot>
void PlaceSlot(Slot* slots, uint32_t mask, const Slot& slot) {
    uint32_t i = static_cast<uint32_t>(slot.Hash()) & mask;
    while (!slots[i].Empty()) i = (i + 1) & mask;
    slots[i] = slot;
}

// Room for entries slots in all without another allocation. False, the table unchanged, when
// the memory cannot be had or the table would pass 2^30 bytes.
template <class Slot>
bool ReserveSlots(HashTable<Slot>& table, int64_t entries) {
    int64_t capacity = 16;
    while (3 * capacity < 4 * entries) capacity *= 2;
    if (table.slots && capacity <= int64_t{table.mask} + 1) return true;
    if (capacity * static_cast<int64_t>(sizeof(Slot)) > int64_t{1} << 30) return false;
    auto* slots = static_cast<Slot*>(
        BlockAllocate(static_cast<int32_t>(capacity * static_cast<int64_t>(sizeof(Slot)))));
    if (!slots) return false;
    uint32_t mask = static_cast<uint32_t>(capacity - 1);
    if (table.slots) {
        for (uint32_t i = 0; i <= table.mask; ++i)
            if (!table.slots[i].Empty()) PlaceSlot(slots, mask, table.slots[i]);
        BlockRelease(table.slots);
    }
    table.slots = slots;
    table.mask = mask;
    return true;
}

// Adds a slot whose key is not in the table (its bits must not be all zero). False, the table
// unchanged, when it had to grow and could not.
template <class Slot>
bool AddNewSlot(HashTable<Slot>& table, const Slot& slot) {
    if (!table.slots || 4 * (int64_t{table.count} + 1) > 3 * (int64_t{table.mask} + 1)) {
        if (!ReserveSlots(table, int64_t{table.count} + 1)) return false;
    }
    PlaceSlot(table.slots, table.mask, slot);
    ++table.count;
    return true;
}

template <class Slot>
void FreeSlots(HashTable<Slot>& table) {
    BlockRelease(table.slots);
    table = HashTable<Slot>{};
}

// A table's array kept, cleared, from one use to the next: given back, its pages would go back
// to the system once they lie at the top of the heap, and faulting them in again costs a search
// of a few hundred walls more than its lookups do. Arrays over KEPT_SLOTS_BYTES come mapped
// afresh and go back at once anyway.
constexpr int64_t KEPT_SLOTS_BYTES = int64_t{1} << 20;

template <class Slot>
struct KeptSlots {
    Slot* slots = nullptr;
    uint32_t mask = 0;
};

// ReserveSlots for an empty table, on the kept array when that has room for entries (a scene
// searched again needs what it needed last time); else the kept one is freed.
template <class Slot>
bool ReserveKeptSlots(HashTable<Slot>& table, KeptSlots<Slot>& kept, int64_t entries) {
    if (kept.slots) {
        if (!table.slots && 3 * (int64_t{kept.mask} + 1) >= 4 * entries) {
            table.slots = kept.slots;
            table.mask = kept.mask;
        } else {
            BlockRelease(kept.slots);
        }
        kept = KeptSlots<Slot>{};
    }
    return ReserveSlots(table, entries);
}

// Empties the table; its array becomes the kept one, cleared, when it is small enough.
template <class Slot>
void KeepOrFreeSlots(HashTable<Slot>& table, KeptSlots<Slot>& kept) {
    if (!table.slots) return;  // most searches never need one
    int64_t bytes = (int64_t{table.mask} + 1) * static_cast<int64_t>(sizeof(Slot));
    if (bytes > KEPT_SLOTS_BYTES) {
        FreeSlots(table);
        return;
    }
    std::memset(static_cast<void*>(table.slots), 0, static_cast<size_t>(bytes));
    BlockRelease(kept.slots);
    kept = KeptSlots<Slot>{table.slots, table.mask};
    table = HashTable<Slot>{};
}
