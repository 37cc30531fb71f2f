// The fault report in the browser. A WebAssembly trap (out-of-bounds access, division by zero,
// unreachable, stack overflow) is thrown as a JavaScript RuntimeError on the thread it happened
// on; the page catches it for the main thread and every worker and shows the "Fehler" box
// (web/). The program side only knows whether a report has begun.
#include "fault/fault_report.h"

#include <emscripten/emscripten.h>

bool InstallFaultReport(const char*) { return true; }
void UninstallFaultReport() {}

bool FaultReportActive() {
    return MAIN_THREAD_EM_ASM_INT({ return Module.pfadFaultReported ? 1 : 0; }) != 0;
}

void SetFaultReportFrameLoopStep(void (*)()) {}
void SetFaultReportProbe(void (*)()) {}
