// tavutil/tavutil.h: the umbrella header; includes every public family of the library.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TAVUTIL_H
#define TAVUTIL_TAVUTIL_H

#include <tavutil/config.h>
#include <tavutil/datetime.h>
#include <tavutil/exception.h>
#include <tavutil/message.h>
#include <tavutil/msgstrpm.h>
#include <tavutil/mutexsem.h>
#include <tavutil/nlsresrc.h>
#include <tavutil/sets.h>
#include <tavutil/sharedmemory.h>
#include <tavutil/tagvar.h>
#include <tavutil/tdll.h>
#include <tavutil/trace.h>
#include <tavutil/tracestream.h>
#include <tavutil/trefcnt.h>
#include <tavutil/tstring.h>

#endif // TAVUTIL_TAVUTIL_H
