// Ctrl+C (and, on Linux, SIGTERM; on Windows, closing the console) while a
// command has something to undo on its way out: the command polls the flag
// instead of dying with the work half done.
#pragma once

namespace qs::cli {

// From now on an interrupt only sets the flag. Once per process.
void CatchInterrupts();
bool Interrupted();
// How many interrupts came (a second one may mean "leave now").
unsigned InterruptCount();
// The command has undone what it must; a console being closed may go now.
void InterruptHandled();

}  // namespace qs::cli
