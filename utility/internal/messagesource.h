// utility/internal/messagesource.h: the source location and level the message family quotes.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_MESSAGESOURCE_H
#define TAVUTIL_INTERNAL_MESSAGESOURCE_H

namespace tavutil::detail {

/// The source every trace point and throw site of the message family quotes, whichever of
/// its files it is in.
inline constexpr char kMessageSource[] = "utility/MESSAGE";
/// The level of the message family's diagnostics.
inline constexpr unsigned long kMessageDiagnosticLevel = 0x8;

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_MESSAGESOURCE_H
