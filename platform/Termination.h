// Termination requests from outside the program (SIGTERM, SIGINT), turned into something the
// event loop can wait on, so a scan can end in order: the page being stored is finished, the
// hand-off is written. SIGPIPE is ignored: a caller that closes its end of our standard
// error, or a network scanner's socket that goes away, must not kill a run. Once installed,
// no library can take these three signals back (see sigaction in Termination.cpp).
#pragma once

namespace kelvo {

// Installs the handlers; returns a descriptor that becomes readable (one byte per signal)
// when termination was requested, or -1 when it could not be set up.
int installTerminationHandlers();
// Reads the pending bytes from that descriptor.
void drainTerminationRequests(int fd);

} // namespace kelvo
