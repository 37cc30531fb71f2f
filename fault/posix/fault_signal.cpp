// Turning a signal into a fault kind.
#include "fault/posix/fault_signal.h"

#include <signal.h>

#include "fault/fault_record.h"

uint32_t FaultKindOfSignal(int signal, int code, bool nearStack) {
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
            // A privileged instruction also arrives here; it cannot be told apart from a plain
            // protection fault without decoding the instruction, so it counts as one.
            return nearStack ? FAULT_STACK_OVERFLOW : FAULT_ACCESS_VIOLATION;
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV:
                    return FAULT_INTEGER_DIVIDE_BY_ZERO;
                case FPE_FLTDIV:
                    return FAULT_FLOAT_DIVIDE_BY_ZERO;
                case FPE_FLTOVF:
                    return FAULT_FLOAT_OVERFLOW;
                case FPE_FLTUND:
                    return FAULT_FLOAT_UNDERFLOW;
                case FPE_FLTRES:
                    return FAULT_FLOAT_INEXACT_RESULT;
                case FPE_FLTINV:
                    return FAULT_FLOAT_INVALID_OPERATION;
                default:
                    return 0xFFFFFFFF;  // shown as an unknown kind
            }
        case SIGILL:
            return code == ILL_PRVOPC ? FAULT_PRIVILEGED_INSTRUCTION : FAULT_ILLEGAL_INSTRUCTION;
        case SIGTRAP:
            return code == TRAP_TRACE ? FAULT_SINGLE_STEP : FAULT_BREAKPOINT;
        default:
            return FAULT_NONE;
    }
}

bool IsStackOverflowAccess(uint64_t faultAddress, uint64_t stackPointer) {
    // A push faults just below the stack pointer; a large frame's first store a little above
    // it, after the pointer was already moved into the guard area.
    constexpr uint64_t REACH = 64 * 1024;
    uint64_t distance =
        faultAddress > stackPointer ? faultAddress - stackPointer : stackPointer - faultAddress;
    return distance <= REACH;
}
