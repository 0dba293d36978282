// examples/relaymsgs.h: the message ids of the relay example's catalogue, shared by the
// catalogues (examples/relaymsgs_*.rc) and the two programs.
// Licensed under the Apache License, Version 2.0.
#ifndef RELAYMSGS_H
#define RELAYMSGS_H

#define RELAY_JOB_STARTED 1  // %1$s: a job, %2$s: a host
#define RELAY_FILES_COPIED 2 // %1$d: a number of files, %2$s: a job, %3$.1f: megabytes
#define RELAY_DISK_FULL 3    // %1$s: a disk, %2$u: a percentage
#define RELAY_JOB_DONE 4     // %s: a job

#endif
