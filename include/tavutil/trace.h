// tavutil/trace.h: trace levels, components, categories and the global trace masks.
// Licensed under the Apache License, Version 2.0.
//
// A trace point first tests the two global masks, which cost two loads and two tests, and
// only then builds its message. Categories register themselves in the known-category
// registry, which TTrace::FindCategory searches.
#ifndef TAVUTIL_TRACE_H
#define TAVUTIL_TRACE_H

#include <atomic>
#include <cstdint>
#include <tavutil/config.h>
#include <tavutil/sets.h>
#include <tavutil/tstring.h>

class TTraceSetKnown;
class TTraceSetKnownCursor;

/// The trace facility: its vocabulary (levels, components, categories) and global switches.
class TAVUTIL_API TTrace {
public:
  /// A named subject of tracing within a component.
  ///
  /// The constructors from a component and a name register the category in the
  /// known-category registry, so such categories are normally static objects. Copies do
  /// not register; a registered category leaves the registry when it is destroyed.
  class TAVUTIL_API Category {
  public:
    Category(unsigned long component, const char* name);
    Category(unsigned long component, const TString& name);
    Category(const Category& other);
    Category& operator=(const Category& other);
    ~Category();

    /// Same component and exactly the same name.
    int operator==(const Category& other) const noexcept;
    int IsEqual(const Category& other) const noexcept { return *this == other; }
    /// Orders by component, then by name.
    int operator<(const Category& other) const noexcept;
    unsigned long QueryComponent() const noexcept { return fComponent; }
    const TString& QueryString() const noexcept { return fName; }

  private:
    std::uint32_t fComponent;
    TString fName;
    bool fRegistered;
  };

  /// The trace state; this part holds the process-wide switches every trace point reads.
  class TAVUTIL_API Base {
  public:
    /// The letter that marks `level` in a trace line; '?' for any other value.
    static char LevelChar(unsigned long level) noexcept;

    /// Union of the level masks of all live trace states. Read without a lock.
    static std::atomic<std::uint32_t> fsRuntimeLevel;
    /// Union of the component masks of all live trace states. Read without a lock.
    static std::atomic<std::uint32_t> fsRuntimeComponent;

  private:
    friend class TTrace;
    static TTraceSetKnown* const fsKnownCategories;
  };

  /// The name of the lowest set bit of `component` ("Utility", "MMToolkits", "Game",
  /// "Protocol", "Reserved5" to "Reserved32"); an empty string for 0.
  static TString QueryComponentName(unsigned long component);
  /// The mask of a component name (any case) or of a 1-based bit number written in decimal;
  /// 0 for an unknown name.
  static unsigned long QueryComponentFromName(const TString& name);

  /// Whether some level and component bits are on anywhere: the cheap first test.
  static int IsGlobalTracing(unsigned long level, unsigned long component) noexcept {
    return (Base::fsRuntimeLevel.load(std::memory_order_relaxed) & level) != 0 &&
           (Base::fsRuntimeComponent.load(std::memory_order_relaxed) & component) != 0;
  }
  static unsigned long QueryGlobalLevel() noexcept { return Base::fsRuntimeLevel.load(); }
  static unsigned long QueryGlobalComponent() noexcept { return Base::fsRuntimeComponent.load(); }

  /// Adds `category` (by pointer, not copied) to the known-category registry.
  static void Register(const Category& category);
  /// The first known category of that name, compared without regard to case, or null.
  static const Category* FindCategory(const TString& name);
  /// A new cursor over the known categories; the caller deletes it.
  static TTraceSetKnownCursor* ListClasses();
};

/// Matches a known category by name without regard to case.
template <> struct TAVUTIL_API TKeyCompare<TElemPointer<TTrace::Category>, TString> {
  static bool Matches(const TElemPointer<TTrace::Category>& item, const TString& name);
};

/// The known-category registry: pointers to registered categories, keyed by name.
class TAVUTIL_API TTraceSetKnown : public TKeySetOf<TElemPointer<TTrace::Category>, TString> {};

/// A cursor over the known categories, yielding TElemPointer<TTrace::Category> items.
class TAVUTIL_API TTraceSetKnownCursor : public TTraceSetKnown::Cursor {
public:
  explicit TTraceSetKnownCursor(TTraceSetKnown& set) noexcept : TTraceSetKnown::Cursor(set) {}
};

/// The library's own trace categories, all of component 1 ("Utility").
class TAVUTIL_API TUtilityTraceCategory {
public:
  static const TTrace::Category TagVar;
  static const TTrace::Category NLSResource;
  static const TTrace::Category Message;
  static const TTrace::Category Trace;
  static const TTrace::Category Queue;
  static const TTrace::Category Utility;
  static const TTrace::Category String;
  static const TTrace::Category Factory;
  static const TTrace::Category CrtMsg;
  static const TTrace::Category MemStream;
  static const TTrace::Category OleStream;
};

#endif // TAVUTIL_TRACE_H
