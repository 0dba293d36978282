// fuzz/tagvar_fuzz.cpp: runs TagVar operators over arbitrary pairs of values.
// Licensed under the Apache License, Version 2.0.
//
// The input is read as: a starting value, then steps of an operator byte and an operand
// value (see Operand). Bit 7 of the operator byte makes the value its own operand. Every
// step must give a value or a library exception that left the value as it was; nothing may
// crash or trip a sanitizer.
#include <tavutil/exception.h>
#include <tavutil/tagvar.h>

#include "fuzz_input.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

constexpr int kMaxSteps = 64;
constexpr unsigned kMaxStringLength = 1u << 16; // s += s doubles: keep strings small
constexpr std::uint8_t kUnknownTagMarker = 0xF0;

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

/// A value of any tag: a byte from 0xF0 on makes an unknown tag from the next four bytes,
/// any other byte the value MakeTagVar makes for that type byte.
TagVar Operand(Reader& in, std::uint8_t first) {
  if (first >= kUnknownTagMarker) {
    auto tag = in.Get<std::int32_t>();
    if (tag >= TagVar::nil && tag <= TagVar::voidptr) {
      tag += TagVar::voidptr + 1;
    }
    return TagVar(static_cast<TagVar::Type>(tag));
  }
  return MakeTagVar(in, first);
}

/// What a value holds, to check that a refused operation changed nothing: the tag, the
/// payload pointer or number, and a string's length.
struct Snapshot {
  explicit Snapshot(const TagVar& v) : tag(v.QueryType()) {
    switch (tag) {
    case TagVar::integer:
      bits = static_cast<std::uint64_t>(static_cast<long>(v));
      break;
    case TagVar::unsignedInteger:
      bits = static_cast<unsigned long>(v);
      break;
    case TagVar::real: {
      const double d = v;
      std::memcpy(&bits, &d, sizeof d);
      break;
    }
    case TagVar::string:
    case TagVar::wideString:
      pointer = v.QueryString();
      length = pointer != nullptr ? v.QueryString()->length() : 0;
      break;
    case TagVar::datetime:
      pointer = v.QueryDateTime();
      bits = pointer != nullptr ? static_cast<std::uint64_t>(v.QueryDateTime()->QueryTime()) : 0;
      break;
    default:
      break;
    }
  }
  bool operator==(const Snapshot& o) const {
    return tag == o.tag && bits == o.bits && pointer == o.pointer && length == o.length;
  }
  TagVar::Type tag;
  std::uint64_t bits = 0;
  const void* pointer = nullptr;
  unsigned length = 0;
};

/// Applies operator `op` (0 to 23) to `value` and `operand`; unary results replace `value`.
void Apply(unsigned op, TagVar& value, const TagVar& operand, std::ostream& sink) {
  switch (op) {
  case 0:
    value += operand;
    break;
  case 1:
    value -= operand;
    break;
  case 2:
    value *= operand;
    break;
  case 3:
    value /= operand;
    break;
  case 4:
    value %= operand;
    break;
  case 5:
    value |= operand;
    break;
  case 6:
    value &= operand;
    break;
  case 7:
    value ^= operand;
    break;
  case 8:
    value <<= operand;
    break;
  case 9:
    value >>= operand;
    break;
  case 10:
    Check(value.IsEqual(operand) == 0 || value.IsEqual(operand) == 1);
    break;
  case 11: {
    const int less = value.IsLessThan(operand);
    Check(less == 0 || less == 1);
    break;
  }
  case 12:
    Check((value.LogicalAnd(operand) | 1) == 1);
    break;
  case 13:
    Check((value.LogicalOr(operand) | 1) == 1);
    break;
  case 14:
    Check((!value | 1) == 1);
    break;
  case 15:
    value = ~value;
    break;
  case 16:
    value = -value;
    break;
  case 17:
    value = +value;
    break;
  case 18:
    ++value;
    break;
  case 19:
    --value;
    break;
  case 20: {
    const TagVar before = value++;
    Check(before.QueryType() == value.QueryType());
    break;
  }
  case 21: {
    const TagVar before = value--;
    Check(before.QueryType() == value.QueryType());
    break;
  }
  case 22:
    value.StreamOut(sink);
    break;
  default:
    value.PrintType(sink);
    break;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  TagVar value = Operand(in, in.Get<std::uint8_t>());
  std::ostringstream sink;
  for (int step = 0; step < kMaxSteps && !in.AtEnd(); ++step) {
    const auto op = in.Get<std::uint8_t>();
    const TagVar operand = Operand(in, in.Get<std::uint8_t>());
    const Snapshot before(value);
    try {
      Apply((op & 0x7F) % 24, value, (op & 0x80) != 0 ? value : operand, sink);
    } catch (const TException&) {
      Check(Snapshot(value) == before); // a refused operation leaves the value alone
    }
    if ((value.IsString() || value.IsWideString()) && value.QueryString() != nullptr &&
        value.QueryString()->length() > kMaxStringLength) {
      value = TagVar();
    }
    sink.str("");
  }
  return 0;
}
