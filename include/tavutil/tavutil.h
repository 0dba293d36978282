// tavutil/tavutil.h: the umbrella header; includes every public family of the library.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TAVUTIL_H
#define TAVUTIL_TAVUTIL_H

#include <tavutil/binstream.h>
#include <tavutil/comstream.h>
#include <tavutil/config.h>
#include <tavutil/datetime.h>
#include <tavutil/exception.h>
#include <tavutil/factory.h>
#include <tavutil/memstream.h>
#include <tavutil/message.h>
#include <tavutil/msgstrpm.h>
#include <tavutil/mutexsem.h>
#include <tavutil/nlsresrc.h>
#include <tavutil/olestrm.h>
#include <tavutil/sets.h>
#include <tavutil/sharedmemory.h>
#include <tavutil/sparse.h>
#include <tavutil/tagvar.h>
#include <tavutil/tdll.h>
#include <tavutil/thread.h>
#include <tavutil/tmpstrm.h>
#include <tavutil/trace.h>
#include <tavutil/tracefactory.h>
#include <tavutil/tracepoint.h>
#include <tavutil/tracescope.h>
#include <tavutil/tracesharedfile.h>
#include <tavutil/tracestream.h>
#include <tavutil/trefcnt.h>
#include <tavutil/tstring.h>

#endif // TAVUTIL_TAVUTIL_H
