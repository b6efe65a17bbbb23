#pragma once

#include <functional>

// Ends the program the ordinary way when the system asks it to (termination, an interrupt from the
// terminal, the end of the session): the event loop returns, the windows are destroyed and the
// program entry returns 0, as if the main window had been closed. Without this the default action
// of those signals would kill the process on the spot.
//
// Call once, after the application object exists. Signals that were ignored when the program
// started (for example under nohup) stay ignored. On Windows the console gives the same events:
// Ctrl-C and Ctrl-Break come as SIGINT; closing the console window, logging off and shutting down
// as SIGTERM. Does nothing where there are no such signals.
namespace platform {

void EndOnTerminationSignals();

// The same signals, handed to `handler` from the event loop (not from the signal handler) with
// the signal's number instead. Call once; only the first call takes effect.
void OnTerminationSignals(std::function<void(int signalNumber)> handler);

// The first termination signal that arrived since OnTerminationSignals, or 0: for work done
// outside the event loop, which must notice it by itself.
int PendingTerminationSignal();
// A descriptor that becomes readable when a termination signal arrives (-1 where there is none),
// for a wait outside the event loop to wake on. Nothing may be read from it.
int TerminationWakeDescriptor();

} // namespace platform
