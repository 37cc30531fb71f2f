// Open-addressing hash tables for the search's lookups: which segments were found blocked, and
// which node a corner point has. Keys are raw bits, so 0.0 and -0.0 stay apart and a NaN finds
// its own bits, exactly as the byte comparison of the lists does.
//
// Memory comes from BlockAllocate (zero-filled: an all-zero slot is an empty one). Nothing here
// throws: a table that cannot get the memory to grow says so (false) and stays as it was.
#pragma once

#include <cstdint>

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

// Linear probing over a power-of-two array kept at most half full, so a miss ends after a slot
// or two. A Slot is 16 bytes or so with bool Empty() (true for all zero bits), uint64_t Hash()
// and bool Same(const Slot&).
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
    while (capacity < 2 * entries) capacity *= 2;
    if (table.slots && capacity <= int64_t{table.mask} + 1) return true;
    if (capacity * static_cast<int64_t>(sizeof(Slot)) > int64_t{1} << 30) return false;
    auto* slots = static_cast<Slot*>(BlockAllocate(static_cast<int32_t>(capacity * static_cast<int64_t>(sizeof(Slot)))));
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
    if (!table.slots || 2 * (int64_t{table.count} + 1) > int64_t{table.mask} + 1) {
        if (!ReserveSlots(table, 2 * (int64_t{table.count} + 1))) return false;
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
