// The fault report: a processor fault on any thread ends the program with a box titled
// "Fehler" naming the kind of fault, our source line that was running and the faulting
// instruction's address. The three lines also go to stderr. Closing the box ends the process
// with the fault's own status (the signal on Linux, the exception code on Windows).
//
// Linux (fault/posix/): the faulting thread does only signal-safe work: it writes what it knows
// and a copy of its stack to a memory file and runs the helper program (pfadlotse-fault-helper)
// in a process group of its own, handing it the running executable as an open file. The helper
// reads the line tables, prints the three lines to stderr and shows the box; it tells the
// program on a pipe when the lines are out and when the box is on screen. Every wait is
// bounded: a helper whose box is not shown within a few seconds is killed, the program prints
// what it knows (unless the helper already did) and ends. The end is always the fault's own
// signal with its default action, and the helper's process group goes down with it; the helper
// and its box also die by themselves when the program is killed.
//
// Windows (fault/win32/): a vectored handler and the unhandled-exception filter hand the fault
// to the report's own thread, which finds the line in the line table the build writes beside
// the executable (NAME.lines for NAME.exe), prints the lines and shows the box; a box not up
// within a few seconds is given up the same way. The faulting thread keeps enough stack for
// this after a stack overflow; so does every thread started after the install.
//
// A quit request (SIGINT, SIGTERM) or EndProgram while the box is open ends the report and
// the program at once, with the fault's status.
//
// The frame loop, each frame:
//   if (FaultReportActive()) ReleaseMouseGrab();   // a worker's box must be clickable
#pragma once

// Installs the report for every thread; call once at start-up, on the frame loop's thread,
// before other threads start. helperPath: what names the line, nullptr for the default in the
// executable's own folder: on Linux the helper program (pfadlotse-fault-helper), on Windows the
// line table (UTF-8 path; NAME.lines beside NAME.exe). Also readies the thread for a report
// after a stack overflow and registers UninstallFaultReport as EndProgram's fault-handler step.
// False when the handlers could not be installed (faults then take the default action).
bool InstallFaultReport(const char* helperPath = nullptr);

// Puts the previous handlers back. While a report is under way it does not return: the report
// ends, and the process with the fault's status.
void UninstallFaultReport();

// True from the moment a fault is being reported until the process ends. Async-signal-safe.
bool FaultReportActive();

// A procedure the handler runs when the frame loop's own thread faults (the thread that
// installed the report), before the box is shown. The frame loop hands it the platform's
// DropDisplayConnection, which frees the mouse for the box. On Linux it runs on the faulting
// thread inside the signal handler and must be async-signal-safe; on Windows it runs on the
// report's own thread while the frame loop's thread is held, so it must not need that thread
// (ClipCursor(nullptr) and undoing raw-input capture do; DestroyWindow would not).
void SetFaultReportFrameLoopStep(void (*step)());

// For tests: a procedure the handler calls once it has taken the report, before the helper
// runs. nullptr (the default) for none.
void SetFaultReportProbe(void (*probe)());
