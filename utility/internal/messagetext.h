// utility/internal/messagetext.h: a message's text rendered straight into a buffer.
// Licensed under the Apache License, Version 2.0.
//
// Internal to the library; never installed.
#ifndef TAVUTIL_INTERNAL_MESSAGETEXT_H
#define TAVUTIL_INTERNAL_MESSAGETEXT_H

#include <tavutil/message.h>

#include "internal/textbuffer.h"

namespace tavutil::detail {

/// What a trace output needs of a message beyond its public interface.
class MessageText {
public:
  /// Appends the text QueryMessage gives: the cached one when the message has it, else the
  /// text rendered straight into `out`, without making a result string or filling the cache.
  /// Rendering may trace. Throws std::bad_alloc, std::length_error, or what a store's GetMsg
  /// throws.
  static void Append(const TMessage& message, TextBuffer& out);
};

} // namespace tavutil::detail

#endif // TAVUTIL_INTERNAL_MESSAGETEXT_H
