// utility/internal/printf_format.h: limits shared by the message formatter and its tests.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_PRINTF_FORMAT_H
#define TAVUTIL_INTERNAL_PRINTF_FORMAT_H

#include <cstddef>

namespace tavutil::detail {

/// The most bytes a rendered message holds. Rendering stops once it is reached, so time and
/// memory stay proportional to the format plus this much output, whatever widths the format
/// asks for; a text made from Unicode is cut before a UTF-8 sequence it would split.
inline constexpr std::size_t kRenderLimit = std::size_t{16} << 20;

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_PRINTF_FORMAT_H
