// utility/tracep.cpp: trace levels, components, categories and the known-category registry.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent. The registry and the library's categories themselves are
// static objects of the start-up unit (startup.cpp), built there in their fixed order.
#include <tavutil/trace.h>

#include "internal/ascii.h"

#include <cstdint>

namespace {

/// The 32 component names, bit 0 first.
constexpr const char* kComponentNames[32] = {
    "Utility",    "MMToolkits", "Game",       "Protocol",   "Reserved5",  "Reserved6",
    "Reserved7",  "Reserved8",  "Reserved9",  "Reserved10", "Reserved11", "Reserved12",
    "Reserved13", "Reserved14", "Reserved15", "Reserved16", "Reserved17", "Reserved18",
    "Reserved19", "Reserved20", "Reserved21", "Reserved22", "Reserved23", "Reserved24",
    "Reserved25", "Reserved26", "Reserved27", "Reserved28", "Reserved29", "Reserved30",
    "Reserved31", "Reserved32"};

/// A level bit and the letter that marks it in a trace line.
struct LevelLetter {
  std::uint32_t level;
  char letter;
};

constexpr LevelLetter kLevelLetters[] = {{0x1, 'O'},     {0x2, 'S'},   {0x4, 'E'},    {0x8, 'W'},
                                         {0x10, 'I'},    {0x20, 'i'},  {0x80, 'N'},   {0x100, '1'},
                                         {0x200, '2'},   {0x400, '*'}, {0x1000, '>'}, {0x2000, '<'},
                                         {0x100000, '?'}};

} // namespace

std::atomic<std::uint32_t> TTrace::Base::fsRuntimeLevel{0};
std::atomic<std::uint32_t> TTrace::Base::fsRuntimeComponent{0};

char TTrace::Base::LevelChar(unsigned long level) noexcept {
  for (const LevelLetter& entry : kLevelLetters) {
    if (entry.level == level) {
      return entry.letter;
    }
  }
  return '?';
}

// ------------------------------------------------------------- components ----

TString TTrace::QueryComponentName(unsigned long component) {
  const auto mask = static_cast<std::uint32_t>(component);
  if (mask == 0) {
    return TString("");
  }
  unsigned bit = 0;
  while ((mask & (1u << bit)) == 0) {
    ++bit;
  }
  return TString(kComponentNames[bit]);
}

unsigned long TTrace::QueryComponentFromName(const TString& name) {
  if (name.isDigits()) {
    // Bit numbers are 1-based and wrap modulo 32: "1" is bit 0, "0" and "32" the top bit.
    const auto number = static_cast<std::uint32_t>(name.asUnsigned());
    return 1ul << ((number - 1u) % 32u);
  }
  const char* text = name;
  if (text == nullptr) {
    return 0;
  }
  for (unsigned bit = 0; bit < 32; ++bit) {
    if (tavutil::detail::StrICmp(text, kComponentNames[bit]) == 0) {
      return 1ul << bit;
    }
  }
  return 0;
}

// -------------------------------------------------------------- categories ----

TTrace::Category::Category(unsigned long component, const char* name)
    : fComponent(static_cast<std::uint32_t>(component)), fName(name), fRegistered(false) {
  TTrace::Register(*this);
  fRegistered = true;
}

TTrace::Category::Category(unsigned long component, const TString& name)
    : fComponent(static_cast<std::uint32_t>(component)), fName(name), fRegistered(false) {
  TTrace::Register(*this);
  fRegistered = true;
}

TTrace::Category::Category(const Category& other)
    : fComponent(other.fComponent), fName(other.fName), fRegistered(false) {}

TTrace::Category& TTrace::Category::operator=(const Category& other) {
  fComponent = other.fComponent;
  fName = other.fName;
  return *this;
}

TTrace::Category::~Category() {
  // A registered category takes itself out, so the registry never holds a dangling pointer.
  if (!fRegistered) {
    return;
  }
  TTraceSetKnown& known = *Base::fsKnownCategories;
  TTraceSetKnown::Cursor cursor(known);
  for (TElemPointer<Category>* item = cursor.Element(); item != nullptr; item = cursor.Next()) {
    if (item->QueryPointer() == this) {
      known.Remove(item);
      delete item;
      return;
    }
  }
}

int TTrace::Category::operator==(const Category& other) const noexcept {
  return fComponent == other.fComponent && fName.isEqual(other.fName);
}

int TTrace::Category::operator<(const Category& other) const noexcept {
  if (fComponent != other.fComponent) {
    return fComponent < other.fComponent;
  }
  return fName.isLessThan(other.fName);
}

// -------------------------------------------------------------- registry ----

bool TKeyCompare<TElemPointer<TTrace::Category>, TString>::Matches(
    const TElemPointer<TTrace::Category>& item, const TString& name) {
  const char* a = item->QueryString();
  const char* b = name;
  if (a == nullptr || b == nullptr) {
    return a == b;
  }
  return tavutil::detail::StrICmp(a, b) == 0;
}

void TTrace::Register(const Category& category) {
  // The registry holds categories by pointer and never changes them through it.
  Base::fsKnownCategories->Add(new TElemPointer<Category>(const_cast<Category*>(&category)));
}

const TTrace::Category* TTrace::FindCategory(const TString& name) {
  TTraceSetKnownCursor* cursor = ListClasses();
  const Category* found = nullptr;
  for (TElemPointer<Category>* item = cursor->Element(); item != nullptr && found == nullptr;
       item = cursor->Next()) {
    if (TKeyCompare<TElemPointer<Category>, TString>::Matches(*item, name)) {
      found = item->QueryPointer();
    }
  }
  delete cursor;
  return found;
}

TTraceSetKnownCursor* TTrace::ListClasses() {
  return new TTraceSetKnownCursor(*Base::fsKnownCategories);
}
