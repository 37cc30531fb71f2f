// Zero-filled memory blocks and arrays, and the CursorList operations.
#include "platform/memory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/assert.h"
#include "platform/system_port.h"

// Large blocks come straight from the system, already zero (see PortTuneAllocator).
static const int largeBlocksMapped = PortTuneAllocator();

#if PFAD_CHECKS
namespace {
std::atomic<int32_t> failSize{0};
std::atomic<int32_t> failCountdown{0};
}  // namespace

void FailBlockAllocate(int32_t size, int32_t count) {
    failSize.store(0);
    failCountdown.store(count > 0 ? count : 0);
    failSize.store(count > 0 ? size : 0);
}

// True for the one call the countdown was armed for; calls racing on other threads each take
// one step, and exactly one of them takes the last.
static bool AllocationFails(int32_t size) {
    if (failSize.load(std::memory_order_relaxed) != size) return false;
    int32_t left = failCountdown.load();
    while (left > 0)
        if (failCountdown.compare_exchange_weak(left, left - 1)) return left == 1;
    return false;
}
#endif

// Up to this size a block is taken with malloc and cleared here. glibc's calloc never takes
// from the per-thread cache that free fills, so a job's few dozen small blocks and list
// elements would each go the slow way twice, in calloc and again in free (the cache full).
constexpr size_t SMALL_BLOCK = 1024;

static void* ZeroFilled(size_t size) {
    if (size > SMALL_BLOCK) return std::calloc(1, size);
    void* block = std::malloc(size);
    if (!block) return nullptr;
    // Hides where the block came from: the compiler would fold malloc and memset back into calloc.
    asm("" : "+r"(block));
    std::memset(block, 0, size);
    return block;
}

void* BlockAllocate(int32_t size) {
    if (size <= 0) return nullptr;
#if PFAD_CHECKS
    if (AllocationFails(size)) return nullptr;
#endif
    return ZeroFilled(static_cast<size_t>(size));
}

void BlockRelease(void* block) { std::free(block); }

int32_t BlockEqual(const void* a, const void* b, int32_t size) {
    if (!a || !b) return (!a && !b) ? 1 : 0;
    if (size <= 0) return 1;
    return std::memcmp(a, b, static_cast<size_t>(size)) == 0 ? 1 : 0;
}

void BlockCopy(const void* source, void* destination, int32_t size) {
    if (size > 0) std::memmove(destination, source, static_cast<size_t>(size));
}

void* ArrayCreate(void** arrayVariable, int32_t upperIndex, int32_t elementSize) {
    std::free(*arrayVariable);
    *arrayVariable = nullptr;
    if (upperIndex < 0 || elementSize <= 0) return nullptr;
    *arrayVariable =
        std::calloc(static_cast<size_t>(upperIndex) + 1, static_cast<size_t>(elementSize));
    return *arrayVariable;
}

// Stamps are handed to each thread in ranges of its own, so a change of a list costs no
// atomic operation; every stamp is still given out once in the process.
constexpr uint64_t STAMP_RANGE = uint64_t{1} << 16;
static std::atomic<uint64_t> stampRanges{0};
static thread_local uint64_t nextStamp = 0;
static thread_local uint64_t stampRangeEnd = 0;

static uint64_t NextStamp() {
    if (nextStamp == stampRangeEnd) {
        nextStamp = stampRanges.fetch_add(STAMP_RANGE, std::memory_order_relaxed) + 1;
        stampRangeEnd = nextStamp + STAMP_RANGE;
    }
    return nextStamp++;
}

void ListCreate(CursorList** listVariable, int32_t dataSize) {
    ListRelease(listVariable);
    auto* list = static_cast<CursorList*>(ZeroFilled(sizeof(CursorList)));
    if (!list) return;
    list->position = -1;
    list->dataSize = dataSize;
    list->stamp = NextStamp();
    *listVariable = list;
}

void ListRewind(CursorList* list) {
    list->current = nullptr;
    list->position = -1;
}

void* ListNext(CursorList* list) {
    ListElement* next = list->current ? list->current->next : list->first;
    if (!next) return nullptr;
    list->current = next;
    list->position++;
    return ListElementData(next);
}

// ---- Element slabs ---------------------------------------------------------------------------
// A list loses elements only all at once (ListClear, ListRelease), so its elements are cut from
// slabs of its own instead of one heap block each: a job's registry and tested segments, or a
// million walls, cost a few allocations. Slabs double from FIRST_SLAB_ELEMENTS up to
// MAX_SLAB_BYTES; ListClear keeps the newest slab when it is small, for the next fill.

struct ElementSlab {
    ElementSlab* older;
    size_t bytes;  // of elements, after this header
#if UINTPTR_MAX == 0xFFFFFFFFu
    char padding[8];  // 32-bit pointers (WebAssembly): the header stays 16 bytes
#endif
};
static_assert(sizeof(ElementSlab) % 16 == 0, "elements in a slab stay 16-byte aligned");

constexpr size_t FIRST_SLAB_ELEMENTS = 8;
constexpr size_t MAX_SLAB_BYTES = size_t{1} << 22;
constexpr size_t KEPT_SLAB_BYTES = size_t{1} << 16;

static size_t ElementStride(const CursorList* list) {
    size_t dataSize = list->dataSize > 0 ? static_cast<size_t>(list->dataSize) : 0;
    return sizeof(ListElement) + (dataSize + 15) / 16 * 16;
}

static char* SlabElements(ElementSlab* slab) { return reinterpret_cast<char*>(slab + 1); }

// How far ahead of the elements handed out a slab is zero-filled: from the first run up to
// the longest.
constexpr size_t SLAB_FIRST_CLEAR_BYTES = 256;
constexpr size_t SLAB_CLEAR_RUN_BYTES = 4096;

// Frees every slab but keep (nullptr: all), the newest, whose elements are handed out again.
static void FreeSlabs(CursorList* list, ElementSlab* keep) {
    ElementSlab* slab = list->slabs;
    while (slab) {
        ElementSlab* older = slab->older;
        if (slab != keep) std::free(slab);
        slab = older;
    }
    list->slabs = keep;
    if (keep) keep->older = nullptr;
    list->slabNext = keep ? SlabElements(keep) : nullptr;
    list->slabCleared = list->slabNext;
    list->slabEnd = keep ? SlabElements(keep) + keep->bytes : nullptr;
}

static ListElement* NewElement(CursorList* list) {
    size_t stride = ElementStride(list);
    if (static_cast<size_t>(list->slabEnd - list->slabNext) < stride) {
        size_t bytes = list->slabs ? 2 * list->slabs->bytes : FIRST_SLAB_ELEMENTS * stride;
        if (bytes > MAX_SLAB_BYTES) bytes = MAX_SLAB_BYTES / stride * stride;
        if (bytes < stride) bytes = stride;
        // Not cleared as a whole: each element is as it is handed out, so the part of a slab
        // never used is never touched, and costs no page the system must supply.
        auto* slab = static_cast<ElementSlab*>(std::malloc(sizeof(ElementSlab) + bytes));
        if (!slab) return nullptr;
        slab->older = list->slabs;
        slab->bytes = bytes;
        list->slabs = slab;
        list->slabNext = SlabElements(slab);
        list->slabCleared = list->slabNext;
        list->slabEnd = list->slabNext + bytes;
    }
    if (static_cast<size_t>(list->slabCleared - list->slabNext) < stride) {
        // Cleared a run ahead, not an element at a time: one memset serves many appends, and
        // the part of a slab never reached is still never touched. The runs double from a
        // small one, so a list cleared and filled with a few elements again clears little.
        size_t done = static_cast<size_t>(list->slabCleared - SlabElements(list->slabs));
        size_t run = std::min(std::clamp(done, SLAB_FIRST_CLEAR_BYTES, SLAB_CLEAR_RUN_BYTES),
                              static_cast<size_t>(list->slabEnd - list->slabCleared));
        if (run < stride) run = static_cast<size_t>(list->slabEnd - list->slabCleared);
        std::memset(list->slabCleared, 0, run);
        list->slabCleared += run;
    }
    auto* element = reinterpret_cast<ListElement*>(list->slabNext);
    list->slabNext += stride;
    return element;
}

// Links element in between previous and next (either may be nullptr: list ends).
static void Link(CursorList* list, ListElement* element, ListElement* previous, ListElement* next) {
    element->previous = previous;
    element->next = next;
    (previous ? previous->next : list->first) = element;
    (next ? next->previous : list->last) = element;
    list->current = element;
    list->count++;
    list->stamp = NextStamp();
}

void* ListAddAfter(CursorList* list) {
    ListElement* element = NewElement(list);
    if (!element) return nullptr;
    if (list->current) {
        Link(list, element, list->current, list->current->next);
        list->position++;
    } else {
        Link(list, element, nullptr, list->first);
        list->position = 0;
    }
    return ListElementData(element);
}

// ListAddAfter with the last element current, spelt out: the registry and the tested segments
// grow by it on every step of a search.
void* ListAppend(CursorList* list) {
    list->current = list->last;
    list->position = list->count - 1;
    ListElement* element = NewElement(list);
    if (!element) return nullptr;
    Link(list, element, list->last, nullptr);
    list->position++;
    return ListElementData(element);
}

void* ListAddBefore(CursorList* list) {
    ListElement* element = NewElement(list);
    if (!element) return nullptr;
    if (list->current) {
        // The new element takes current's index.
        Link(list, element, list->current->previous, list->current);
    } else {
        Link(list, element, nullptr, list->first);
        list->position = 0;
    }
    return ListElementData(element);
}

void* ListCurrent(CursorList* list) {
    PFAD_ASSERT(list->current,
                "ListCurrent while the current element is none (after ListCreate, "
                "ListRewind or ListClear): move onto an element with ListNext or "
                "add one first");
    return list->current ? ListElementData(list->current) : nullptr;
}

int32_t ListPosition(const CursorList* list) { return list->position; }

void ListClear(CursorList* list) {
    ElementSlab* newest = list->slabs;
    FreeSlabs(list, newest && newest->bytes <= KEPT_SLAB_BYTES ? newest : nullptr);
    list->first = list->last = list->current = nullptr;
    list->count = 0;
    list->position = -1;
    list->stamp = NextStamp();
}

void ListRelease(CursorList** listVariable) {
    if (!*listVariable) return;
    FreeSlabs(*listVariable, nullptr);
    std::free(*listVariable);
    *listVariable = nullptr;
}
