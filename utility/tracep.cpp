// utility/tracep.cpp: the trace model: states, handles, delivery, categories and registry.
// Licensed under the Apache License, Version 2.0.
//
// The source of tavutil/trace.h's model, named after the location that the trace family's
// diagnostics quote ("utility/TRACEP").
//
// Operating-system independent. fsMutex guards the list of states, their category sets and
// the registry; every walk of them holds it, so no walk meets a node being changed or freed.
// The mutex, the registry and the library's categories are static objects of the start-up
// unit (startup.cpp), built there in their fixed order.
#include <tavutil/message.h>
#include <tavutil/trace.h>

#include "internal/ascii.h"
#include "internal/scopedlock.h"
#include "internal/setelements.h"
#include "internal/traceline.h"
#include "platform/platform.h"

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>

namespace {

/// The 32 component names, bit 0 first.
constexpr const char* kComponentNames[] = {
    "Utility",    "MMToolkits", "Game",       "Protocol",   "Reserved5",  "Reserved6",
    "Reserved7",  "Reserved8",  "Reserved9",  "Reserved10", "Reserved11", "Reserved12",
    "Reserved13", "Reserved14", "Reserved15", "Reserved16", "Reserved17", "Reserved18",
    "Reserved19", "Reserved20", "Reserved21", "Reserved22", "Reserved23", "Reserved24",
    "Reserved25", "Reserved26", "Reserved27", "Reserved28", "Reserved29", "Reserved30",
    "Reserved31", "Reserved32"};
static_assert(std::size(kComponentNames) == 32, "one name per bit of a component mask");

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
TTrace::Base* TTrace::Base::fsAnchor = nullptr;

namespace {

using tavutil::detail::ScopedLock;

constexpr std::uint32_t kNewLevel = 0xF;
constexpr std::uint32_t kNewComponent = 0xFFFFFFFF;

} // namespace

char TTrace::Base::LevelChar(unsigned long level) noexcept {
  for (const LevelLetter& entry : kLevelLetters) {
    if (entry.level == level) {
      return entry.letter;
    }
  }
  return '?';
}

namespace {

/// The date-and-time text of one second, kept per thread: a trace line asks for it every
/// time, and breaking the clock down costs far more than the line's other work. Initial-exec
/// TLS: one load from the thread pointer, no call into the dynamic linker.
struct ClockText {
  std::int64_t second = -1;
  char text[14] = {}; ///< "MM/DD-hh:mm:ss"
};
__attribute__((tls_model("initial-exec"))) thread_local ClockText tClock;

} // namespace

char* tavutil::detail::PutClock(char* out) noexcept {
  const tavutil::platform::WallTime now = tavutil::platform::CurrentWallTime();
  ClockText& cached = tClock;
  if (now.seconds != cached.second) {
    std::tm parts{};
    if (!tavutil::platform::BreakDownLocal(now.seconds, parts)) {
      parts = std::tm{};
    }
    char* at = PutTwoDigits(cached.text, parts.tm_mon + 1);
    *at++ = '/';
    at = PutTwoDigits(at, parts.tm_mday);
    *at++ = '-';
    at = PutTwoDigits(at, parts.tm_hour);
    *at++ = ':';
    at = PutTwoDigits(at, parts.tm_min);
    *at++ = ':';
    PutTwoDigits(at, parts.tm_sec);
    cached.second = now.seconds;
  }
  std::memcpy(out, cached.text, sizeof cached.text);
  out += sizeof cached.text;
  *out++ = '.';
  return PutTwoDigits(out, now.millisecond / 10);
}

char* tavutil::detail::PutLinePrefix(char* out, bool display, unsigned long level) noexcept {
  const char letter = TTrace::Base::LevelChar(level);
  if (!display) {
    *out++ = letter;
    return out;
  }
  char* const start = out;
  out = PutClock(out);
  *out++ = ' ';
  out = PutHex8(out, tavutil::platform::ThreadId());
  *out++ = ' ';
  *out++ = letter;
  assert(out - start == tavutil::detail::kFullPrefixLength && "the prefix layout is 28 characters");
  (void)start;
  return out;
}

void TTrace::Base::FormatPrefix(TString& prefix, unsigned long level) const {
  char text[tavutil::detail::kPrefixRoom];
  *tavutil::detail::PutLinePrefix(text, QueryDisplayPrefix() != 0, level) = '\0';
  prefix = TString(text);
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

unsigned long TTrace::QueryComponentFromName(const TString& name) noexcept {
  if (name.isDigits()) {
    // Bit numbers are 1-based and wrap modulo 32: "1" is bit 0, "0" and "32" the top bit.
    const auto number = static_cast<std::uint32_t>(name.asUnsigned());
    return 1ul << ((number - 1u) % 32u); // fixed: "0" names the top bit
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
  Base::Register(*this);
  fRegistered = true;
}

TTrace::Category::Category(unsigned long component, const TString& name)
    : fComponent(static_cast<std::uint32_t>(component)), fName(name), fRegistered(false) {
  Base::Register(*this);
  fRegistered = true;
}

TTrace::Category::Category(const Category& other) noexcept
    : fComponent(other.fComponent), fName(other.fName), fRegistered(false) {}

TTrace::Category& TTrace::Category::operator=(const Category& other) noexcept {
  fComponent = other.fComponent;
  fName = other.fName;
  return *this;
}

TTrace::Category::~Category() {
  // A registered category takes itself out, so the registry never holds a dangling pointer.
  if (!fRegistered) {
    return;
  }
  const ScopedLock lock(Base::fsMutex);
  tavutil::detail::RemovePointerTo(*Base::fsKnownCategories, this);
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
    const TElemPointer<TTrace::Category>& item, const TString& name) noexcept {
  const char* known = item->QueryString();
  const char* wanted = name;
  if (known == nullptr || wanted == nullptr) {
    return known == wanted;
  }
  return tavutil::detail::StrICmp(known, wanted) == 0;
}

void TTrace::Base::Register(const Category& category) {
  // The registry holds categories by pointer and never changes them through it.
  auto element = std::make_unique<TElemPointer<Category>>(const_cast<Category*>(&category));
  const ScopedLock lock(fsMutex);
  tavutil::detail::AddOwned(*fsKnownCategories, std::move(element));
}

const TTrace::Category* TTrace::Base::FindCategory(const TString& name) noexcept {
  const ScopedLock lock(fsMutex);
  // The registry's key comparison is the name without regard to case.
  const TElemPointer<Category>* item = fsKnownCategories->Find(name);
  return item != nullptr ? item->QueryPointer() : nullptr;
}

TTraceSetKnownCursor* TTrace::Base::ListClasses() {
  // The caller owns the cursor: that is the published contract of this function.
  return std::make_unique<TTraceSetKnownCursor>(*fsKnownCategories).release();
}

// ----------------------------------------------------------------- pointer ----

TTrace::Pointer::Pointer(Base* base) noexcept : fBase(base) {
  if (fBase != nullptr) {
    fBase->AddRef();
  }
}

TTrace::Pointer::Pointer(const Pointer& other) noexcept : Pointer(other.fBase) {}

TTrace::Pointer& TTrace::Pointer::operator=(const Pointer& other) {
  if (this != &other) {
    Base* old = fBase;
    fBase = other.fBase;
    if (fBase != nullptr) {
      fBase->AddRef();
    }
    if (old != nullptr) {
      old->RemoveRef();
    }
  }
  return *this;
}

TTrace::Pointer::~Pointer() {
  if (fBase != nullptr) {
    fBase->RemoveRef();
  }
}

TTrace::Base* TTrace::Pointer::operator->() const {
  if (fBase == nullptr) {
    TRefCounted::ThrowNullReference();
  }
  return fBase;
}

// ------------------------------------------------------------- trace state ----

TTrace::Base::Base() : Base(kNewLevel, kNewComponent) {}

TTrace::Base::Base(unsigned long level, unsigned long component)
    : fDisplayPrefix(1), fNext(nullptr), fLevel(static_cast<std::uint32_t>(level)),
      fComponent(static_cast<std::uint32_t>(component)), fDefaultTracing(1), fDisableRestore(0),
      fStopped(0), fCategories(std::make_unique<TTraceSet>()), fSaveStateCount(0), fLinked(false) {
  const ScopedLock lock(fsMutex);
  fNext = fsAnchor;
  fsAnchor = this;
  fLinked = true;
  RecomputeGlobalMasks();
}

TTrace::Base::~Base() {
  const ScopedLock lock(fsMutex);
  Unlink();
  fCategories.reset();
  RecomputeGlobalMasks();
}

void TTrace::Base::Unreachable() {
  {
    // Out of the list before the derived part goes: from here on no walk can reach it.
    const ScopedLock lock(fsMutex);
    Unlink();
    RecomputeGlobalMasks();
  }
  delete this;
}

void TTrace::Base::Unlink() noexcept {
  if (!fLinked) {
    return;
  }
  for (Base** link = &fsAnchor; *link != nullptr; link = &(*link)->fNext) {
    if (*link == this) {
      *link = fNext;
      break;
    }
  }
  fNext = nullptr;
  fLinked = false;
}

void TTrace::Base::RecomputeGlobalMasks() noexcept {
  std::uint32_t level = 0;
  std::uint32_t component = 0;
  for (const Base* state = fsAnchor; state != nullptr; state = state->fNext) {
    level |= state->fLevel.load(std::memory_order_relaxed);
    component |= state->fComponent.load(std::memory_order_relaxed);
  }
  fsRuntimeLevel.store(level);
  fsRuntimeComponent.store(component);
}

void TTrace::Base::SetLevel(unsigned long level) {
  const ScopedLock lock(fsMutex);
  if (fStopped.load()) {
    return;
  }
  fLevel.store(static_cast<std::uint32_t>(level));
  RecomputeGlobalMasks();
  Change();
}

void TTrace::Base::SetComponent(unsigned long component) {
  const ScopedLock lock(fsMutex);
  if (fStopped.load()) {
    return;
  }
  fComponent.store(static_cast<std::uint32_t>(component));
  RecomputeGlobalMasks();
  Change();
}

int TTrace::Base::IsTracing(unsigned long level, unsigned long component) const noexcept {
  return (level & QueryLevel()) != 0 && (component & QueryComponent()) != 0;
}

int TTrace::Base::IsTracing(unsigned long level, unsigned long component,
                            const Category& category) const noexcept {
  return IsTracing(level, component) && QueryCategory(category);
}

TElementCategory* TTrace::Base::FindSwitch(const Category& category) const {
  return fCategories->Find(category);
}

void TTrace::Base::AddCategory(const Category& category, int on) {
  const ScopedLock lock(fsMutex);
  if (TElementCategory* entry = FindSwitch(category)) {
    entry->SetOn(on);
  } else {
    tavutil::detail::AddOwned(*fCategories, std::make_unique<TElementCategory>(category, on));
  }
  Change();
}

void TTrace::Base::RemoveCategory(const Category& category) {
  const ScopedLock lock(fsMutex);
  if (TElementCategory* entry = FindSwitch(category)) {
    const std::unique_ptr<TElementCategory> removed(entry);
    fCategories->Remove(entry);
    Change();
  }
}

int TTrace::Base::CategorySwitch(const Category& category) const {
  const TElementCategory* entry = FindSwitch(category);
  return entry != nullptr ? entry->QueryOn() : fDefaultTracing.load();
}

int TTrace::Base::QueryCategory(const Category& category) const noexcept {
  const ScopedLock lock(fsMutex);
  return CategorySwitch(category);
}

int TTrace::Base::UsesDefault(const Category& category) const noexcept {
  const ScopedLock lock(fsMutex);
  return FindSwitch(category) != nullptr ? 1 : 0; // fixed: 1 for a switch, despite the name
}

void TTrace::Base::SetDefaultTracing(int on) {
  fDefaultTracing.store(on);
  Change();
}

void TTrace::Base::SetDisableRestore(int on) {
  fDisableRestore.store(on);
  Change();
}

void TTrace::Base::StopTracing() {
  const ScopedLock lock(fsMutex);
  fDisableRestore.store(1);
  fStopped.store(1);
  fLevel.store(0);
  fComponent.store(0);
  RecomputeGlobalMasks();
  Change();
}

void TTrace::Base::Change() {}

bool TTrace::Base::Accepts(unsigned long level, unsigned long component,
                           const Category& category) const {
  // A state nobody holds is being built or destroyed: it takes nothing. The count is read
  // without a virtual call, since the object's derived part may still be under construction.
  return TRefCounted::QueryReferenceCount() > 0 && IsTracing(level, component) &&
         CategorySwitch(category);
}

// ----------------------------------------------------- delivery and masks ----

namespace {

/// How deep the calling thread is in WriteEntry (an output's rendering may trace again).
__attribute__((tls_model("initial-exec"))) thread_local unsigned tDeliveryDepth = 0;

/// Counts the calling thread into WriteEntry for one scope.
class DeliveryScope {
public:
  DeliveryScope() noexcept { ++tDeliveryDepth; }
  ~DeliveryScope() { --tDeliveryDepth; }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;
};

} // namespace

bool tavutil::detail::DeliveringEntry() noexcept {
  return tDeliveryDepth != 0;
}

void TTrace::Base::WriteEntry(unsigned long level, const Category& category,
                              const TMessage& message) noexcept {
  const ScopedLock lock(fsMutex);
  const DeliveryScope delivering; // inside the lock: the outputs may rely on holding it
  const unsigned long component = category.QueryComponent();
  Base* first = fsAnchor;
  while (first != nullptr && !first->Accepts(level, component, category)) {
    first = first->fNext;
  }
  if (first == nullptr) {
    return;
  }
  // An output renders the text straight into its line. When several will, the text is
  // rendered once here, so each finds it cached and a rendering diagnostic is traced once.
  for (const Base* other = first->fNext; other != nullptr; other = other->fNext) {
    if (other->Accepts(level, component, category)) {
      try {
        static_cast<void>(message.QueryMessage());
      } catch (...) {
        // Each output then tries for itself.
      }
      break;
    }
  }
  for (Base* state = first; state != nullptr; state = state->fNext) {
    if (state != first && !state->Accepts(level, component, category)) {
      continue;
    }
    try {
      state->Write(level, category, message);
    } catch (...) {
      // A failing output loses its entry; the trace point's caller carries on.
    }
  }
}

int TTrace::Base::IsGlobalTracing(unsigned long level, unsigned long component,
                                  const Category& category) noexcept {
  if (!IsGlobalTracing(level, component)) {
    return 0;
  }
  const ScopedLock lock(fsMutex);
  for (const Base* state = fsAnchor; state != nullptr; state = state->fNext) {
    if (state->Accepts(level, component, category)) {
      return 1;
    }
  }
  return 0;
}

void TTrace::Base::SetGlobalLevel(unsigned long level) noexcept {
  fsRuntimeLevel.store(static_cast<std::uint32_t>(level));
}

void TTrace::Base::SetGlobalComponent(unsigned long component) noexcept {
  fsRuntimeComponent.store(static_cast<std::uint32_t>(component));
}

void TTrace::Base::SetGlobalTracing() noexcept {
  const ScopedLock lock(fsMutex);
  RecomputeGlobalMasks();
}

// ------------------------------------------------------------------ handle ----

TTrace::~TTrace() = default;

unsigned long TTrace::QueryLevel() const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->QueryLevel();
}

void TTrace::SetLevel(unsigned long level) {
  if (!fPointer.IsNull()) {
    fPointer->SetLevel(level);
  }
}

unsigned long TTrace::QueryComponent() const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->QueryComponent();
}

void TTrace::SetComponent(unsigned long component) {
  if (!fPointer.IsNull()) {
    fPointer->SetComponent(component);
  }
}

int TTrace::IsTracing(unsigned long level, unsigned long component) const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->IsTracing(level, component);
}

int TTrace::IsTracing(unsigned long level, unsigned long component,
                      const Category& category) const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->IsTracing(level, component, category);
}

void TTrace::AddCategory(const Category& category, int on) {
  if (!fPointer.IsNull()) {
    fPointer->AddCategory(category, on);
  }
}

void TTrace::RemoveCategory(const Category& category) {
  if (!fPointer.IsNull()) {
    fPointer->RemoveCategory(category);
  }
}

int TTrace::QueryCategory(const Category& category) const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->QueryCategory(category);
}

int TTrace::UsesDefault(const Category& category) const noexcept {
  return fPointer.IsNull() ? 1 // fixed: an empty handle answers 1
                           : fPointer.QueryBase()->UsesDefault(category);
}

int TTrace::QueryDefaultTracing() const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->QueryDefaultTracing();
}

void TTrace::SetDefaultTracing(int on) {
  if (!fPointer.IsNull()) {
    fPointer->SetDefaultTracing(on);
  }
}

int TTrace::QueryDisableRestore() const noexcept {
  return fPointer.IsNull() ? 1 : fPointer.QueryBase()->QueryDisableRestore();
}

void TTrace::SetDisableRestore(int on) {
  if (!fPointer.IsNull()) {
    fPointer->SetDisableRestore(on);
  }
}

int TTrace::QueryDisplayPrefix() const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->QueryDisplayPrefix();
}

void TTrace::SetDisplayPrefix(int on) noexcept {
  if (!fPointer.IsNull()) {
    fPointer.QueryBase()->SetDisplayPrefix(on);
  }
}

unsigned long TTrace::QueryCountSaveState() const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->QueryCountSaveState();
}

void TTrace::StopTracing() {
  if (!fPointer.IsNull()) {
    fPointer->StopTracing();
  }
}

int TTrace::StillTracing() const noexcept {
  return fPointer.IsNull() ? 0 : fPointer.QueryBase()->StillTracing();
}

void TTrace::FormatPrefix(TString& prefix, unsigned long level) const {
  if (!fPointer.IsNull()) {
    fPointer.QueryBase()->FormatPrefix(prefix, level);
  }
}
