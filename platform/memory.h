// Zero-filled memory blocks and arrays, and CursorList: the ordered, doubly linked list with
// one current element that every collection of the program uses.
//
// A list's current element is one per list. A list that two threads read (the walls) is
// walked by each reader with a ListWalk of its own, which never moves the current element
// or another walk; `for (Wall& wall : ListItems<Wall>(walls))` is such a walk.
#pragma once

#include <cstddef>
#include <cstdint>

// A new zero-filled block of size bytes; nullptr for a size of 0 or less or when memory runs out.
void* BlockAllocate(int32_t size);
// Gives a block back; nullptr is ignored.
void BlockRelease(void* block);
// 1 when the first size bytes of a and b are equal byte for byte (0.0f and -0.0f differ);
// two missing blocks are equal, one missing block is not.
int32_t BlockEqual(const void* a, const void* b, int32_t size);
#if PFAD_CHECKS
// Test seam, in builds with checks only: the count-th BlockAllocate of exactly size bytes from
// now on returns nullptr, once (counting every thread's calls). A size or count of 0 disarms.
void FailBlockAllocate(int32_t size, int32_t count);
#endif
// Copies size bytes from source to destination.
void BlockCopy(const void* source, void* destination, int32_t size);
// Releases the array the variable holds, then stores a new zero-filled array of
// upperIndex + 1 elements (nullptr when memory runs out) and returns it.
void* ArrayCreate(void** arrayVariable, int32_t upperIndex, int32_t elementSize);

template <class T>
T* ArrayCreate(T** arrayVariable, int32_t upperIndex) {
    return static_cast<T*>(
        ArrayCreate(reinterpret_cast<void**>(arrayVariable), upperIndex, sizeof(T)));
}

struct ListElement {
    ListElement* previous;
    ListElement* next;
#if UINTPTR_MAX == 0xFFFFFFFFu
    char padding[8];  // 32-bit pointers (WebAssembly): the data still starts 16 bytes in
#endif
    // The element's data follows, 16-byte aligned.
};
static_assert(sizeof(ListElement) == 16);

struct ElementSlab;

struct CursorList {
    ListElement* first;
    ListElement* last;
    ListElement* current;  // nullptr: before the first element
    int32_t count;
    int32_t position;  // index of current, -1 when current is nullptr
    int32_t dataSize;
    // Renewed by every change of the elements (added, cleared) and at creation, never the same
    // value twice in the process (never 0): a list showing the stamp it showed before has not
    // changed since.
    uint64_t stamp;
    // Where the elements live: slabs released only all together (memory.cpp).
    ElementSlab* slabs;
    char* slabNext;
    char* slabCleared;  // the newest slab is zero-filled from slabNext up to here
    char* slabEnd;
};

// The data area of an element.
inline void* ListElementData(ListElement* element) {
    return reinterpret_cast<char*>(element) + sizeof(ListElement);
}

// Releases the list the variable holds, then stores a new empty list (nullptr when memory runs
// out).
void ListCreate(CursorList** listVariable, int32_t dataSize);
// current := none.
void ListRewind(CursorList* list);
// Advances current (from none to the first element) and returns its data; at the end returns
// nullptr and current stays on the last element.
void* ListNext(CursorList* list);
// A zero-filled element right after current (at the front when current is none), made current;
// its data, or nullptr when memory runs out (the list is then unchanged).
void* ListAddAfter(CursorList* list);
// Makes the last element current, then adds after it: a zero-filled element at the end.
void* ListAppend(CursorList* list);
// A zero-filled element right before current (at the front when current is none), made current.
void* ListAddBefore(CursorList* list);
// The current element's data; only valid while current is not none.
void* ListCurrent(CursorList* list);
inline int32_t ListCount(const CursorList* list) { return list->count; }
// 0-based position of current; -1 when current is none.
int32_t ListPosition(const CursorList* list);
// Removes and releases every element; current := none.
void ListClear(CursorList* list);
// Releases every element and the list, and sets the variable to nullptr.
void ListRelease(CursorList** listVariable);

// A walk position of its own: visits the elements first to last without touching current.
struct ListWalk {
    ListElement* next;
};
inline ListWalk ListWalkStart(const CursorList* list) {
    return ListWalk{list ? list->first : nullptr};
}
// The next element's data, or nullptr at the end.
inline void* ListWalkNext(ListWalk* walk) {
    ListElement* element = walk->next;
    if (!element) return nullptr;
    walk->next = element->next;
    return ListElementData(element);
}

// Range-for over a list's data as T, walking with a position of its own.
template <class T>
class ListItems {
  public:
    explicit ListItems(const CursorList* list) : list_(list) {}
    class Iterator {
      public:
        explicit Iterator(ListElement* element) : element_(element) {}
        T& operator*() const { return *static_cast<T*>(ListElementData(element_)); }
        Iterator& operator++() {
            element_ = element_->next;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return element_ != other.element_; }

      private:
        ListElement* element_;
    };
    Iterator begin() const { return Iterator(list_ ? list_->first : nullptr); }
    Iterator end() const { return Iterator(nullptr); }

  private:
    const CursorList* list_;
};
