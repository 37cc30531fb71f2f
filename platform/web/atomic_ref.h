// Emscripten 3.1.6's libc++ predates std::atomic_ref; the shared code uses it on plain int32_t
// fields only, so this gives those the members it calls, on the compiler's atomic builtins
// (the same instructions the newer library emits). Forced into every web compile.
#pragma once

#include <atomic>
#include <version>

#if !defined(__cpp_lib_atomic_ref)
namespace std {
template <class T>
class atomic_ref {
  public:
    explicit atomic_ref(T& object) : object_(&object) {}
    T load(memory_order order = memory_order_seq_cst) const {
        return __atomic_load_n(object_, static_cast<int>(order));
    }
    void store(T value, memory_order order = memory_order_seq_cst) const {
        __atomic_store_n(object_, value, static_cast<int>(order));
    }
    T exchange(T value, memory_order order = memory_order_seq_cst) const {
        return __atomic_exchange_n(object_, value, static_cast<int>(order));
    }
    operator T() const { return load(); }

  private:
    T* object_;
};
}  // namespace std
#endif
