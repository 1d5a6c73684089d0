// Termination requests from outside the program (SIGTERM, SIGINT, and SIGHUP and SIGQUIT,
// which a closed terminal or an ended login session send), turned into something the event
// loop can wait on, so a scan can end in order: the page being stored is finished, the
// hand-off is written. SIGPIPE is ignored: a caller that closes its end of our standard
// error, or a network scanner's socket that goes away, must not kill a run. Once installed,
// no library can take these signals back (see sigaction in Termination.cpp).
#pragma once

namespace kelvo {

// Installs the handlers; returns a descriptor that becomes readable (one byte per signal)
// when termination was requested, or -1 when it could not be set up.
int installTerminationHandlers();
// Reads the pending bytes from that descriptor.
void drainTerminationRequests(int fd);

// The handler for an exit() nobody planned (Qt's, when the X server goes away); it ends the
// process itself. It must run before the exit-time destructors of every library, also of
// those loaded later (the PDF engine module and qpdf, whose objects it may still need), so it
// is registered with atexit() again after code was loaded or first used: keepExitHandlerFirst().
void setExitHandler(void (*handler)());
void keepExitHandlerFirst();

} // namespace kelvo
