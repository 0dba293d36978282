// examples/demomsgs.h: the message ids of the demo's catalogues, shared by the catalogues
// (examples/demomsgs_*.rc) and the program that uses them.
// Licensed under the Apache License, Version 2.0.
#ifndef DEMOMSGS_H
#define DEMOMSGS_H

#define DEMO_WELCOME 1   // %s: a user name
#define DEMO_COPIED 2    // %1$d: a number of files, %2$s: a job name
#define DEMO_DISK_FULL 3 // %s: a disk, %u: a percentage
#define DEMO_GOODBYE 4   // %s: a user name; in the English catalogue only

#endif
