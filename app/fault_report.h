// The fault report: a processor fault on any thread ends the program with a box titled
// "Fehler" naming the kind of fault, our source line that was running and the faulting
// instruction's address.
//
// The faulting thread does only signal-safe work: it writes what it knows and a copy of its
// stack to a memory file and runs the helper program (pfadlotse-fault-helper), which reads the
// line tables, prints the three lines to stderr and shows the box. When the helper has ended
// the signal is raised again with its default action, so the process ends with the fault's
// own status. SIGINT and SIGTERM are requests to quit: the program ends through EndProgram.
//
// The frame loop, each frame:
//   if (FaultReportActive()) ReleaseMouseGrab();   // a worker's box must be clickable
//   if (FaultReportQuitRequested()) EndProgram();   // SIGINT / SIGTERM
#pragma once

// Installs the report for every thread; call once at start-up, on the main thread, before
// other threads start. helperPath: the helper program, nullptr for pfadlotse-fault-helper in
// the executable's own folder. Also gives the main thread its alternate signal stack and
// registers UninstallFaultReport as EndProgram's fault-handler step. False when the handlers
// could not be installed (faults then take the default action).
bool InstallFaultReport(const char* helperPath = nullptr);

// Puts the previous handlers back. While a report is under way it does not return: that
// report ends the process with the fault's status.
void UninstallFaultReport();

// True from the moment a fault is being reported until the process ends. Async-signal-safe.
bool FaultReportActive();

// True once, for the caller that then ends the program with EndProgram, after SIGINT or
// SIGTERM arrived. A frame loop that polls it gets a second to do so; after that, or at once
// when nobody polls, a watcher thread calls EndProgram itself. Quit requests that arrive
// while a fault is reported are ignored.
bool FaultReportQuitRequested();

// For tests: a procedure the handler calls once it has taken the report, before the helper
// runs. nullptr (the default) for none.
void SetFaultReportProbe(void (*probe)());
