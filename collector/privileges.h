// The collector needs a privilege only to start: for the raw socket, and
// for a TLS key or a port below 1024 that only root may have.
#pragma once

// With the raw socket and the listening socket open nothing needs a
// privilege any more: root becomes nobody, and whatever capabilities are left
// (a file capability on the program) are cleared. 0, or -1 with errno set.
int drop_privileges();
