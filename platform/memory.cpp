// Zero-filled memory blocks and arrays, and the CursorList operations.
#include "platform/memory.h"

#include "platform/assert.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

// Blocks of a megabyte and more come straight from the system, already zero, so calloc never
// clears them by hand (glibc would raise this threshold after the first large block is freed,
// and a search asked to stop would then wait for megabytes of clearing).
static const int largeBlocksMapped = mallopt(M_MMAP_THRESHOLD, 1 << 20);

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

void* BlockAllocate(int32_t size) {
    if (size <= 0) return nullptr;
#if PFAD_CHECKS
    if (AllocationFails(size)) return nullptr;
#endif
    return std::calloc(1, static_cast<size_t>(size));
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
    *arrayVariable = std::calloc(static_cast<size_t>(upperIndex) + 1, static_cast<size_t>(elementSize));
    return *arrayVariable;
}

static std::atomic<uint64_t> listChanges{0};

static uint64_t NextStamp() { return listChanges.fetch_add(1, std::memory_order_relaxed) + 1; }

void ListCreate(CursorList** listVariable, int32_t dataSize) {
    ListRelease(listVariable);
    auto* list = static_cast<CursorList*>(std::calloc(1, sizeof(CursorList)));
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

static ListElement* NewElement(const CursorList* list) {
    size_t dataSize = list->dataSize > 0 ? static_cast<size_t>(list->dataSize) : 0;
    return static_cast<ListElement*>(std::calloc(1, sizeof(ListElement) + dataSize));
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

void* ListAppend(CursorList* list) {
    list->current = list->last;
    list->position = list->count - 1;
    return ListAddAfter(list);
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
    PFAD_ASSERT(list->current, "ListCurrent while the current element is none (after ListCreate, "
                               "ListRewind or ListClear): move onto an element with ListNext or "
                               "add one first");
    return list->current ? ListElementData(list->current) : nullptr;
}

int32_t ListCount(const CursorList* list) { return list->count; }

int32_t ListPosition(const CursorList* list) { return list->position; }

void ListClear(CursorList* list) {
    ListElement* element = list->first;
    while (element) {
        ListElement* next = element->next;
        std::free(element);
        element = next;
    }
    list->first = list->last = list->current = nullptr;
    list->count = 0;
    list->position = -1;
    list->stamp = NextStamp();
}

void ListRelease(CursorList** listVariable) {
    if (!*listVariable) return;
    ListClear(*listVariable);
    std::free(*listVariable);
    *listVariable = nullptr;
}
