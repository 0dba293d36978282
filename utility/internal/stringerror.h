// utility/internal/stringerror.h: the throw routine of the string family.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed. Declared apart from internal/raise.h so that the
// string code compiles without the exception and trace headers.
#ifndef TAVUTIL_INTERNAL_STRINGERROR_H
#define TAVUTIL_INTERNAL_STRINGERROR_H

namespace tavutil::detail {

/// Raises TInvalidRequest `text` by the library's throw convention, quoting "utility/TSTRING"
/// at `line` and traced under the String category. Never returns.
[[noreturn]] void RaiseStringError(const char* text, unsigned long line);

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_STRINGERROR_H
