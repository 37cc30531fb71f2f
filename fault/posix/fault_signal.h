// Turning a signal into a fault kind (the kinds are in fault_record.h). Signal-safe.
#pragma once

#include <cstdint>

// The kind code of a signal as the kernel delivered it. nearStack: the faulting data address
// lies next to the stack pointer (a stack overflow hit the guard page). Signals that are not
// faults give FAULT_NONE.
uint32_t FaultKindOfSignal(int signal, int code, bool nearStack);

// True when a memory fault at faultAddress, with the thread's stack pointer at stackPointer,
// is a stack overflow: the access lies within a few pages of the stack pointer.
bool IsStackOverflowAccess(uint64_t faultAddress, uint64_t stackPointer);
