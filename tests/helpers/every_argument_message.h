// tests/helpers/every_argument_message.h: a stored message with an argument of every TagVar
// type, made alike by the message tests and the program that writes it for them.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_EVERY_ARGUMENT_MESSAGE_H
#define TAVUTIL_TESTS_EVERY_ARGUMENT_MESSAGE_H

#include <tavutil/message.h>

#include <cstdint>

/// Store "App", set 3, message 7, a debugging location, and thirteen arguments: nil,
/// endOfArgs, integer, unsignedInteger, real, string, wideString, date, time, datetime (zone
/// 3600), voidptr, a string without buffer and a string with a null payload.
inline TMessage EveryArgumentMessage() {
  const TagVar placeholder(0);
  const TagVar* list[14] = {};
  for (int i = 0; i < 13; ++i) {
    list[i] = &placeholder;
  }
  TMessage m(TMessage::StoreID(TString("App"), explicitInit), 3, 7, "Every type %d of %s", list);
  // The list forms stop at nil and endOfArgs, so those two are set afterwards.
  m[0] = TagVar();
  m[1] = TagVar(TagVar::endOfArgs);
  m[2] = TagVar(-123456789);
  m[3] = TagVar(4000000000u);
  m[4] = TagVar(-0.1);
  m[5] = TagVar("narrow");
  m[6] = TagVar(TAVUTIL_WTEXT("wide"));
  m[7] = TagVar(TDate());
  m[8] = TagVar(TTime());
  m[9] = TagVar(TDateTime(946728000, 3600));
  m[10] = TagVar(TagVarVoidPtr(reinterpret_cast<void*>(std::uintptr_t{0xCAFEF00D})));
  m[11] = TagVar(static_cast<const char*>(nullptr));
  m[12] = TagVar(TagVar::string);
  m.SetDebugging("writer.cpp", 99);
  return m;
}

#endif // TAVUTIL_TESTS_EVERY_ARGUMENT_MESSAGE_H
