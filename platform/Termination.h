// Termination requests from outside the program (SIGTERM, SIGINT), turned into something the
// event loop can wait on, so a scan can end in order: the page being stored is finished, the
// hand-off is written. SIGPIPE is ignored: a caller that closes its end of our standard
// error, or a network scanner's socket that goes away, must not kill a run.
#pragma once

namespace kelvo {

// Installs the handlers; returns a descriptor that becomes readable (one byte per signal)
// when termination was requested, or -1 when it could not be set up.
int installTerminationHandlers();
// Reads the pending bytes from that descriptor.
void drainTerminationRequests(int fd);

// While it exists, puts the handlers back whenever a library has replaced them. Scanner
// backends do: SANE's test backend resets SIGTERM to its default in its reader thread, which
// would kill the process mid-page. Held for the length of a scan.
class TerminationHandlersKept {
public:
    TerminationHandlersKept();
    ~TerminationHandlersKept();
    TerminationHandlersKept(const TerminationHandlersKept&) = delete;
    TerminationHandlersKept& operator=(const TerminationHandlersKept&) = delete;

private:
    struct Watch;
    Watch* m_watch = nullptr;
};

} // namespace kelvo
