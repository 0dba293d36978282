// tests/catalogues/nlstest.h: the ids of the test catalogues, shared with the tests.
// Licensed under the Apache License, Version 2.0.
#ifndef NLSTEST_H
#define NLSTEST_H

#define NLS_DISK_FULL 1
#define NLS_COPIED (NLS_DISK_FULL + 1)
#define NLS_BEYOND_BMP 3
#define NLS_LONGEST 4     // 256 UTF-16 units: read whole
#define NLS_TOO_LONG 5    // 257 units: read cut to 256
#define NLS_PAIR_AT_CUT 6 // 255 units and a surrogate pair: read cut to 255
// 7 is in no catalogue.

#endif
