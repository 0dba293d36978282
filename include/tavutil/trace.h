// tavutil/trace.h: the trace model: levels, components, categories, states and handles.
// Licensed under the Apache License, Version 2.0.
//
// A trace point first tests the two global masks, which cost two loads and two tests, and
// only then builds its message: TAVUTIL_TRACE (tavutil/tracepoint.h) does exactly that.
// Categories register themselves in the known-category registry, which TTrace::FindCategory
// searches. This header only names TMessage; tavutil/message.h defines it.
#ifndef TAVUTIL_TRACE_H
#define TAVUTIL_TRACE_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <tavutil/config.h>
#include <tavutil/mutexsem.h>
#include <tavutil/sets.h>
#include <tavutil/trefcnt.h>
#include <tavutil/tstring.h>

class TElementCategory;
class TMessage;
class TTraceSet;
class TTraceSetKnown;
class TTraceSetKnownCursor;

/// A trace handle, and the trace facility's vocabulary and global switches.
///
/// A handle shares a trace state (TTrace::Base) through a counted pointer; copies share one
/// state and the last one destroys it. An empty handle does nothing. The static members are
/// what every trace point uses: the global masks, WriteEntry and the category registry.
class TAVUTIL_API TTrace {
public:
  /// A named subject of tracing within a component.
  ///
  /// The constructors from a component and a name register the category in the
  /// known-category registry, so such categories are normally static objects. Copies do
  /// not register; a registered category leaves the registry when it is destroyed.
  class TAVUTIL_API Category {
  public:
    /// Copies the name and registers the category. Throws std::bad_alloc when the name or the
    /// registry's element cannot be allocated; nothing is registered then.
    Category(unsigned long component, const char* name);
    /// Shares the name's buffer and registers the category; throws as the above.
    Category(unsigned long component, const TString& name);
    /// An unregistered copy; shares the name and throws nothing.
    Category(const Category& other);
    /// Takes the other's component and name (registration stays as it was); throws nothing.
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

  class Base;
  class SaveState;

  /// A counted pointer to a trace state: copies share the state, the last one destroys it.
  class TAVUTIL_API Pointer {
  public:
    Pointer() noexcept : fBase(nullptr) {}
    /// Holds `base`, adding a reference.
    Pointer(Base* base) noexcept;
    Pointer(const Pointer& other) noexcept;
    /// Adds a reference to the new state before dropping the old one.
    Pointer& operator=(const Pointer& other);
    ~Pointer();

    /// The state; throws TInvalidRequest "TReference null" when there is none.
    Base* operator->() const;
    Base& operator*() const { return *operator->(); }
    /// The state, or null.
    Base* QueryBase() const noexcept { return fBase; }
    int IsNull() const noexcept { return fBase == nullptr; }

  private:
    Base* fBase;
  };

  /// A trace state: level and component masks, category switches and flags, and an output
  /// that Write() sends accepted entries to.
  ///
  /// Every live state sits in one list, guarded with the rest of the trace model by fsMutex.
  /// A state takes entries only while some handle holds it: it is built with count 0, and the
  /// last release takes it out of the list under fsMutex before destroying it, so no walk of
  /// the list ever reaches a half-built or dying state. The library never works on the model
  /// unguarded: should fsMutex ever fail to lock (it could not be made when the library
  /// loaded), the process ends through std::terminate. The setters throw only what an
  /// override of Change() throws, unless noted.
  class TAVUTIL_API Base : public TRefCounted {
  public:
    unsigned long QueryLevel() const noexcept { return fLevel.load(std::memory_order_relaxed); }
    /// Sets the level mask and recomputes the global masks; nothing on a stopped state.
    void SetLevel(unsigned long level);
    unsigned long QueryComponent() const noexcept {
      return fComponent.load(std::memory_order_relaxed);
    }
    /// Sets the component mask and recomputes the global masks; nothing on a stopped state.
    void SetComponent(unsigned long component);
    /// Whether `level` and `component` share a bit with this state's masks.
    int IsTracing(unsigned long level, unsigned long component) const noexcept;
    /// The above, and the category is switched on here.
    int IsTracing(unsigned long level, unsigned long component, const Category& category) const;
    /// Switches a category on or off (updating its switch when it has one). Throws
    /// std::bad_alloc when a new switch cannot be allocated; the switches are then unchanged.
    void AddCategory(const Category& category, int on);
    /// Drops a category's explicit switch; nothing when it has none.
    void RemoveCategory(const Category& category);
    /// The category's switch, or the default tracing when it has none.
    int QueryCategory(const Category& category) const;
    /// 1 when the category has an explicit switch, else 0.
    int UsesDefault(const Category& category) const;
    int QueryDefaultTracing() const noexcept { return fDefaultTracing.load(); }
    void SetDefaultTracing(int on);
    int QueryDisableRestore() const noexcept { return fDisableRestore.load(); }
    void SetDisableRestore(int on);
    int QueryDisplayPrefix() const noexcept { return fDisplayPrefix.load(); }
    void SetDisplayPrefix(int on) noexcept { fDisplayPrefix.store(on != 0); }
    unsigned long QueryCountSaveState() const noexcept { return fSaveStateCount.load(); }
    /// Stops this state for good: empty masks, restore disabled.
    void StopTracing();
    /// 1 until StopTracing().
    int StillTracing() const noexcept { return !fStopped.load(); }

    /// Writes one accepted entry to the output; called under fsMutex.
    virtual void Write(unsigned long level, const Category& category, const TMessage& message) = 0;
    /// Called after every change of the settings, under fsMutex where the setter holds it;
    /// does nothing here. What an override throws passes to the setter's caller, after the
    /// change itself is made.
    virtual void Change();

    /// The letter that marks `level` in a trace line; '?' for any other value.
    static char LevelChar(unsigned long level) noexcept;
    /// Replaces `prefix` with the start of a trace line for `level`: the level letter alone
    /// when the display prefix is 0, otherwise "MM/DD-hh:mm:ss.cc TTTTTTTT L" (28 characters:
    /// local time to the hundredth, the calling thread's id in hex, the letter). Throws
    /// std::bad_alloc when the string cannot be allocated; `prefix` is then unchanged.
    void FormatPrefix(TString& prefix, unsigned long level) const;

    /// Offers the entry to every live state that accepts it, newest state first. Whatever an
    /// output throws is dropped: writing a trace entry never fails its caller.
    static void WriteEntry(unsigned long level, const Category& category, const TMessage& message);
    /// Whether `level` and `component` are on in the global masks: the cheap first test.
    static int IsGlobalTracing(unsigned long level, unsigned long component) noexcept {
      return (fsRuntimeLevel.load(std::memory_order_relaxed) & level) != 0 &&
             (fsRuntimeComponent.load(std::memory_order_relaxed) & component) != 0;
    }
    /// The above, and some live state accepts the level, the component and the category.
    static int IsGlobalTracing(unsigned long level, unsigned long component,
                               const Category& category);
    static unsigned long QueryGlobalLevel() noexcept { return fsRuntimeLevel.load(); }
    /// Overwrites the global level mask until the next recomputation.
    static void SetGlobalLevel(unsigned long level) noexcept;
    static unsigned long QueryGlobalComponent() noexcept { return fsRuntimeComponent.load(); }
    /// Overwrites the global component mask until the next recomputation.
    static void SetGlobalComponent(unsigned long component) noexcept;
    /// Recomputes both global masks as the union over the live states.
    static void SetGlobalTracing();
    /// Adds `category` (by pointer, not copied) to the known-category registry. Throws
    /// std::bad_alloc when its element cannot be allocated; the registry is then unchanged.
    static void Register(const Category& category);
    /// The first known category of that name, compared without regard to case, or null.
    static const Category* FindCategory(const TString& name);
    /// A new cursor over the known categories; the caller deletes it. Throws std::bad_alloc.
    /// The cursor walks the registry without a lock: hold fsMutex (a TMutexSemaphoreEntry)
    /// while using it when other threads may construct or destroy categories.
    static TTraceSetKnownCursor* ListClasses();

    /// Guards the list of states, every category set, the registry and all of WriteEntry
    /// (recursive, so a Write may take it again). The library ends the process when it cannot
    /// take it, rather than walk those lists unguarded.
    static TMutexSemaphore fsMutex;
    /// Union of the level masks of all live trace states. Read without a lock.
    static std::atomic<std::uint32_t> fsRuntimeLevel;
    /// Union of the component masks of all live trace states. Read without a lock.
    static std::atomic<std::uint32_t> fsRuntimeComponent;

  protected:
    /// A state taking levels 0xF of every component and every category.
    Base();
    Base(unsigned long level, unsigned long component);
    /// Leaves the list (when the last release has not already taken it out).
    ~Base() override;
    /// Takes the state out of the list under fsMutex, then deletes it.
    void Unreachable() override;

  private:
    friend class TTrace;
    friend class Category;
    friend class TTrace::SaveState;
    void Link();
    void Unlink() noexcept;
    /// The category's switch, or the default tracing when it has none; call under fsMutex.
    int CategorySwitch(const Category& category) const;
    /// The category's switch in the set, or null; call under fsMutex.
    TElementCategory* FindSwitch(const Category& category) const;
    /// Whether this state takes the entry; call under fsMutex.
    bool Accepts(unsigned long level, unsigned long component, const Category& category) const;
    static void RecomputeGlobalMasks() noexcept;

    static Base* fsAnchor;
    static TTraceSetKnown* const fsKnownCategories;

    std::atomic<int> fDisplayPrefix;
    Base* fNext;
    std::atomic<std::uint32_t> fLevel;
    std::atomic<std::uint32_t> fComponent;
    std::atomic<int> fDefaultTracing;
    std::atomic<int> fDisableRestore;
    std::atomic<int> fStopped;
    std::unique_ptr<TTraceSet> fCategories;
    std::atomic<std::uint32_t> fSaveStateCount;
    bool fLinked;
  };

  /// An empty handle.
  TTrace() noexcept = default;
  /// A handle on a new output configured by one line of text,
  /// "output[,levels[,components[,default[,categories]]]]", for example "stdout,er+wa",
  /// "file(run.log),al,Utility,1,Message-" or "shfile(/tmp/app.trc),er+xc". Outputs: stdout,
  /// stderr, file(NAME), shfile(NAME) (both default to the executable's path with ".log"),
  /// pm(IDENT) (the system log) and any trace factory type. Null or empty text, an unknown
  /// output or an unreadable executable path give an empty handle. Throws TInvalidRequest
  /// "Unknown level specified", "Unknown level +- specified" or "Invalid default specified"
  /// for a malformed field, releasing the output already made; std::bad_alloc.
  explicit TTrace(const char* specification);
  TTrace(const TTrace& other) = default;
  TTrace& operator=(const TTrace& other) = default;
  virtual ~TTrace();

  /// The handle's counted pointer.
  Pointer& QueryPointer() noexcept { return fPointer; }
  const Pointer& QueryPointer() const noexcept { return fPointer; }

  // Forwarders to the state, throwing what the state's member throws. On an empty handle
  // setters do nothing and queries give the value noted.
  unsigned long QueryLevel() const noexcept; ///< 0 when empty
  void SetLevel(unsigned long level);
  unsigned long QueryComponent() const noexcept; ///< 0 when empty
  void SetComponent(unsigned long component);
  int IsTracing(unsigned long level, unsigned long component) const noexcept; ///< 0 when empty
  int IsTracing(unsigned long level, unsigned long component, const Category& category) const;
  void AddCategory(const Category& category, int on);
  void RemoveCategory(const Category& category);
  int QueryCategory(const Category& category) const; ///< 0 when empty
  int UsesDefault(const Category& category) const;   ///< 1 when empty
  int QueryDefaultTracing() const noexcept;          ///< 0 when empty
  void SetDefaultTracing(int on);
  int QueryDisableRestore() const noexcept; ///< 1 when empty
  void SetDisableRestore(int on);
  int QueryDisplayPrefix() const noexcept; ///< 0 when empty
  void SetDisplayPrefix(int on) noexcept;
  unsigned long QueryCountSaveState() const noexcept; ///< 0 when empty
  void StopTracing();
  int StillTracing() const noexcept; ///< 0 when empty
  /// The state's line prefix for `level` (see Base::FormatPrefix); leaves `prefix` alone when
  /// empty.
  void FormatPrefix(TString& prefix, unsigned long level) const;

  static void WriteEntry(unsigned long level, const Category& category, const TMessage& message) {
    Base::WriteEntry(level, category, message);
  }
  static int IsGlobalTracing(unsigned long level, unsigned long component) noexcept {
    return Base::IsGlobalTracing(level, component);
  }
  static int IsGlobalTracing(unsigned long level, unsigned long component,
                             const Category& category) {
    return Base::IsGlobalTracing(level, component, category);
  }
  static unsigned long QueryGlobalLevel() noexcept { return Base::QueryGlobalLevel(); }
  static void SetGlobalLevel(unsigned long level) noexcept { Base::SetGlobalLevel(level); }
  static unsigned long QueryGlobalComponent() noexcept { return Base::QueryGlobalComponent(); }
  static void SetGlobalComponent(unsigned long component) noexcept {
    Base::SetGlobalComponent(component);
  }
  static void SetGlobalTracing() { Base::SetGlobalTracing(); }
  static void Register(const Category& category) { Base::Register(category); }
  static const Category* FindCategory(const TString& name) { return Base::FindCategory(name); }
  static TTraceSetKnownCursor* ListClasses() { return Base::ListClasses(); }

  /// The name of the lowest set bit of `component` ("Utility", "MMToolkits", "Game",
  /// "Protocol", "Reserved5" to "Reserved32"); an empty string for 0. Throws std::bad_alloc.
  static TString QueryComponentName(unsigned long component);
  /// The mask of a component name (any case) or of a 1-based bit number written in decimal;
  /// 0 for an unknown name.
  static unsigned long QueryComponentFromName(const TString& name);

protected:
  /// A handle on a new state; the outputs' handles make theirs this way.
  explicit TTrace(Base* base) noexcept : fPointer(base) {}

private:
  Pointer fPointer;
};

/// A scope that saves a trace state's level mask, component mask and default tracing and puts
/// them back when it ends, optionally switching one level, component and category on for the
/// length of the scope.
///
///   void Suspect(TTrace& trace) {
///     TTrace::SaveState scope(trace, 0x100, TUtilityTraceCategory::Message);
///     ...   // the state now takes level 0x100 entries of Message as well
///   }       // the masks and default tracing are back, the Message switch stays on
///
/// Only the masks and default tracing are restored: category switches made during the scope,
/// including the one the scope made, remain. A state whose disable-restore flag is set when the
/// scope ends (StopTracing sets it) keeps its settings. QueryCountSaveState() counts the live
/// scopes on a state, copies included. On an empty handle the scope does nothing.
class TAVUTIL_API TTrace::SaveState {
public:
  /// Saves the state's settings, counts the scope and calls the state's Change(). Never
  /// throws: what Change() throws is dropped.
  explicit SaveState(TTrace& trace) noexcept;
  /// Saves the settings and counts the scope, then replaces the level mask with `level`, adds
  /// the category's component to the component mask and switches the category on (each step
  /// calls Change()). Throws std::bad_alloc when the switch cannot be made, or what Change()
  /// throws; the saved settings are then put back and the scope is not counted.
  SaveState(TTrace& trace, unsigned long level, const Category& category);
  /// Another live scope on the same state with the same saved settings; it is counted and
  /// restores them too. Never throws.
  SaveState(const SaveState& other) noexcept;
  /// Ends this scope as its destructor would, then becomes a copy of `other`. Never throws.
  SaveState& operator=(const SaveState& other) noexcept;
  /// Restores the saved settings unless the state's disable-restore flag is set, uncounts the
  /// scope and calls Change(). Never throws: what Change() throws is dropped.
  ~SaveState();

private:
  /// Counts this scope on its state, if any.
  void Count() noexcept;
  /// Restores (unless disabled) and uncounts; leaves the scope without a state.
  void Leave() noexcept;

  Pointer fState;
  std::uint32_t fLevel;
  std::uint32_t fComponent;
  int fDefaultTracing;
};

/// One explicit category switch of a trace state: a copy of the category and its on-flag.
class TAVUTIL_API TElementCategory {
public:
  TElementCategory(const TTrace::Category& category, int on) : fCategory(category), fOn(on) {}
  const TTrace::Category& Key() const noexcept { return fCategory; }
  int QueryOn() const noexcept { return fOn; }
  void SetOn(int on) noexcept { fOn = on; }

private:
  TTrace::Category fCategory;
  int fOn;
};

/// The category switches of a trace state, keyed by category (component and exact name).
class TAVUTIL_API TTraceSet : public TKeySetOf<TElementCategory, TTrace::Category> {};

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
