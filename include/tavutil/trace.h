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
    /// Shares the name's buffer and registers the category. Throws std::bad_alloc when the
    /// registry's element cannot be allocated; nothing is registered then.
    Category(unsigned long component, const TString& name);
    /// An unregistered copy that shares the name. Throws nothing.
    Category(const Category& other) noexcept;
    /// Takes the other's component and name (registration stays as it was). Throws nothing.
    Category& operator=(const Category& other) noexcept;
    /// Leaves the registry when the constructor registered the category. Throws nothing.
    ~Category();

    /// Same component and exactly the same name. Throws nothing.
    int operator==(const Category& other) const noexcept;
    /// The same as operator==. Throws nothing.
    int IsEqual(const Category& other) const noexcept { return *this == other; }
    /// Orders by component, then by name. Throws nothing.
    int operator<(const Category& other) const noexcept;
    /// The component mask (1 for the library's own categories). Throws nothing.
    unsigned long QueryComponent() const noexcept { return fComponent; }
    /// The name. Throws nothing.
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
    /// No state. Throws nothing.
    Pointer() noexcept : fBase(nullptr) {}
    /// Holds `base`, adding a reference. Throws nothing.
    Pointer(Base* base) noexcept;
    /// Shares the other's state, adding a reference. Throws nothing.
    Pointer(const Pointer& other) noexcept;
    /// Adds a reference to the new state before dropping the old one. Throws what the old
    /// state's RemoveRef() throws (none of the library's states does).
    Pointer& operator=(const Pointer& other);
    /// Drops the reference. Throws what the state's RemoveRef() throws (none of the library's
    /// states does).
    ~Pointer();

    /// The state. Throws TInvalidRequest "TReference null" when there is none.
    Base* operator->() const;
    /// The state. Throws TInvalidRequest "TReference null" when there is none.
    Base& operator*() const { return *operator->(); }
    /// The state, or null. Throws nothing.
    Base* QueryBase() const noexcept { return fBase; }
    /// Whether there is no state. Throws nothing.
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
  /// loaded), the process ends through std::terminate. The virtual members carry no
  /// noexcept, so that the outputs' overrides keep compiling.
  class TAVUTIL_API Base : public TRefCounted {
  public:
    /// The level mask. Throws nothing.
    unsigned long QueryLevel() const noexcept { return fLevel.load(std::memory_order_relaxed); }
    /// Sets the level mask and recomputes the global masks; nothing on a stopped state.
    /// Throws what Change() throws.
    void SetLevel(unsigned long level);
    /// The component mask. Throws nothing.
    unsigned long QueryComponent() const noexcept {
      return fComponent.load(std::memory_order_relaxed);
    }
    /// Sets the component mask and recomputes the global masks; nothing on a stopped state.
    /// Throws what Change() throws.
    void SetComponent(unsigned long component);
    /// Whether `level` and `component` share a bit with this state's masks. Throws nothing.
    int IsTracing(unsigned long level, unsigned long component) const noexcept;
    /// The above, and the category is switched on here. Throws nothing.
    int IsTracing(unsigned long level, unsigned long component,
                  const Category& category) const noexcept;
    /// Switches a category on or off (updating its switch when it has one). Throws
    /// std::bad_alloc when a new switch cannot be allocated (the switches are then
    /// unchanged), and what Change() throws.
    void AddCategory(const Category& category, int on);
    /// Drops a category's explicit switch; nothing when it has none. Throws what Change()
    /// throws.
    void RemoveCategory(const Category& category);
    /// The category's switch, or the default tracing when it has none. Throws nothing.
    int QueryCategory(const Category& category) const noexcept;
    /// 1 when the category has an explicit switch, else 0. Throws nothing.
    int UsesDefault(const Category& category) const noexcept;
    /// The answer for a category without a switch. Throws nothing.
    int QueryDefaultTracing() const noexcept { return fDefaultTracing.load(); }
    /// Sets the answer for a category without a switch. Throws what Change() throws.
    void SetDefaultTracing(int on);
    /// Whether SaveState scopes end without restoring. Throws nothing.
    int QueryDisableRestore() const noexcept { return fDisableRestore.load(); }
    /// Sets whether SaveState scopes end without restoring. Throws what Change() throws.
    void SetDisableRestore(int on);
    /// Whether lines carry the full time-and-thread prefix. Throws nothing.
    int QueryDisplayPrefix() const noexcept { return fDisplayPrefix.load(); }
    /// Sets whether lines carry the full prefix. Throws nothing.
    void SetDisplayPrefix(int on) noexcept { fDisplayPrefix.store(on != 0); }
    /// The number of live SaveState scopes on this state. Throws nothing.
    unsigned long QueryCountSaveState() const noexcept { return fSaveStateCount.load(); }
    /// Stops this state for good: empty masks, restore disabled. Throws what Change() throws.
    void StopTracing();
    /// 1 until StopTracing(). Throws nothing.
    int StillTracing() const noexcept { return !fStopped.load(); }

    /// Writes one accepted entry to the output; called under fsMutex. Throws what the output
    /// throws (none of the library's outputs does); WriteEntry drops it.
    virtual void Write(unsigned long level, const Category& category, const TMessage& message) = 0;
    /// Called after every change of the settings, under fsMutex where the setter holds it;
    /// does nothing here. What an override throws passes to the setter's caller, after the
    /// change itself is made. Throws nothing here.
    virtual void Change();

    /// The letter that marks `level` in a trace line; '?' for any other value. Throws
    /// nothing.
    static char LevelChar(unsigned long level) noexcept;
    /// Replaces `prefix` with the start of a trace line for `level`: the level letter alone
    /// when the display prefix is 0, otherwise "MM/DD-hh:mm:ss.cc TTTTTTTT L" (28 characters:
    /// local time to the hundredth, the calling thread's id in hex, the letter). Throws
    /// std::bad_alloc when the string cannot be allocated; `prefix` is then unchanged.
    void FormatPrefix(TString& prefix, unsigned long level) const;

    /// Offers the entry to every live state that accepts it, newest state first. Whatever an
    /// output throws is dropped: writing a trace entry never fails its caller. Throws
    /// nothing.
    static void WriteEntry(unsigned long level, const Category& category,
                           const TMessage& message) noexcept;
    /// Whether `level` and `component` are on in the global masks: the cheap first test.
    /// Throws nothing.
    static int IsGlobalTracing(unsigned long level, unsigned long component) noexcept {
      return (fsRuntimeLevel.load(std::memory_order_relaxed) & level) != 0 &&
             (fsRuntimeComponent.load(std::memory_order_relaxed) & component) != 0;
    }
    /// The above, and some live state accepts the level, the component and the category.
    /// Throws nothing.
    static int IsGlobalTracing(unsigned long level, unsigned long component,
                               const Category& category) noexcept;
    /// The global level mask. Throws nothing.
    static unsigned long QueryGlobalLevel() noexcept { return fsRuntimeLevel.load(); }
    /// Overwrites the global level mask until the next recomputation. Throws nothing.
    static void SetGlobalLevel(unsigned long level) noexcept;
    /// The global component mask. Throws nothing.
    static unsigned long QueryGlobalComponent() noexcept { return fsRuntimeComponent.load(); }
    /// Overwrites the global component mask until the next recomputation. Throws nothing.
    static void SetGlobalComponent(unsigned long component) noexcept;
    /// Recomputes both global masks as the union over the live states. Throws nothing.
    static void SetGlobalTracing() noexcept;
    /// Adds `category` (by pointer, not copied) to the known-category registry. Throws
    /// std::bad_alloc when its element cannot be allocated; the registry is then unchanged.
    static void Register(const Category& category);
    /// The first known category of that name, compared without regard to case, or null.
    /// Throws nothing.
    static const Category* FindCategory(const TString& name) noexcept;
    /// A new cursor over the known categories; the caller deletes it. The cursor walks the
    /// registry without a lock: hold fsMutex (a TMutexSemaphoreEntry) while using it when
    /// other threads may construct or destroy categories. Throws std::bad_alloc when the
    /// cursor cannot be allocated.
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
    /// A state taking levels 0xF of every component and every category. Throws
    /// std::bad_alloc when its category set cannot be allocated.
    Base();
    /// A state taking `level` of `component` and every category. Throws std::bad_alloc when
    /// its category set cannot be allocated.
    Base(unsigned long level, unsigned long component);
    /// Leaves the list (when the last release has not already taken it out). Throws nothing.
    ~Base() override;
    /// Takes the state out of the list under fsMutex, then deletes it. Throws nothing.
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

  /// An empty handle. Throws nothing.
  TTrace() noexcept = default;
  /// A handle on a new output configured by one line of text,
  /// "output[,levels[,components[,default[,categories]]]]", for example "stdout,er+wa",
  /// "file(run.log),al,Utility,1,Message-" or "shfile(/tmp/app.trc),er+xc". Outputs: stdout,
  /// stderr, file(NAME), shfile(NAME) (both default to the executable's path with ".log"),
  /// pm(IDENT) (the system log) and any trace factory type. Null or empty text, an unknown
  /// output or an unreadable executable path give an empty handle. Throws TInvalidRequest
  /// "Unknown level specified", "Unknown level +- specified" or "Invalid default specified"
  /// when a field is malformed, releasing the output already made; std::bad_alloc when
  /// memory runs out.
  explicit TTrace(const char* specification);
  /// A handle sharing the other's state. Throws nothing.
  TTrace(const TTrace& other) = default;
  /// Shares the other's state, releasing the one held. Throws what the released state's
  /// RemoveRef() throws (none of the library's states does).
  TTrace& operator=(const TTrace& other) = default;
  /// Releases the state. Throws nothing.
  virtual ~TTrace();

  ///@{
  /// The handle's counted pointer. Throws nothing.
  Pointer& QueryPointer() noexcept { return fPointer; }
  const Pointer& QueryPointer() const noexcept { return fPointer; }
  ///@}

  // Forwarders to the state's members of the same name (see TTrace::Base). On an empty handle
  // setters do nothing and queries give the value noted.

  /// The level mask; 0 when empty. Throws nothing.
  unsigned long QueryLevel() const noexcept;
  /// Sets the level mask. Throws what the state's Change() throws.
  void SetLevel(unsigned long level);
  /// The component mask; 0 when empty. Throws nothing.
  unsigned long QueryComponent() const noexcept;
  /// Sets the component mask. Throws what the state's Change() throws.
  void SetComponent(unsigned long component);
  /// Whether the state takes `level` of `component`; 0 when empty. Throws nothing.
  int IsTracing(unsigned long level, unsigned long component) const noexcept;
  /// The above, and the category is switched on; 0 when empty. Throws nothing.
  int IsTracing(unsigned long level, unsigned long component,
                const Category& category) const noexcept;
  /// Switches a category on or off. Throws std::bad_alloc when a new switch cannot be
  /// allocated, and what the state's Change() throws.
  void AddCategory(const Category& category, int on);
  /// Drops a category's explicit switch. Throws what the state's Change() throws.
  void RemoveCategory(const Category& category);
  /// The category's switch or the default tracing; 0 when empty. Throws nothing.
  int QueryCategory(const Category& category) const noexcept;
  /// 1 when the category has an explicit switch, else 0; 1 when empty. Throws nothing.
  int UsesDefault(const Category& category) const noexcept;
  /// The default tracing; 0 when empty. Throws nothing.
  int QueryDefaultTracing() const noexcept;
  /// Sets the default tracing. Throws what the state's Change() throws.
  void SetDefaultTracing(int on);
  /// The disable-restore flag; 1 when empty. Throws nothing.
  int QueryDisableRestore() const noexcept;
  /// Sets the disable-restore flag. Throws what the state's Change() throws.
  void SetDisableRestore(int on);
  /// The display-prefix flag; 0 when empty. Throws nothing.
  int QueryDisplayPrefix() const noexcept;
  /// Sets the display-prefix flag. Throws nothing.
  void SetDisplayPrefix(int on) noexcept;
  /// The number of live SaveState scopes; 0 when empty. Throws nothing.
  unsigned long QueryCountSaveState() const noexcept;
  /// Stops the state for good. Throws what the state's Change() throws.
  void StopTracing();
  /// 1 until StopTracing(); 0 when empty. Throws nothing.
  int StillTracing() const noexcept;
  /// The state's line prefix for `level` (see Base::FormatPrefix); leaves `prefix` alone when
  /// empty. Throws std::bad_alloc when the string cannot be allocated.
  void FormatPrefix(TString& prefix, unsigned long level) const;

  /// Base::WriteEntry: offers the entry to every live state that accepts it. Throws nothing.
  static void WriteEntry(unsigned long level, const Category& category,
                         const TMessage& message) noexcept {
    Base::WriteEntry(level, category, message);
  }
  /// Whether `level` and `component` are on in the global masks. Throws nothing.
  static int IsGlobalTracing(unsigned long level, unsigned long component) noexcept {
    return Base::IsGlobalTracing(level, component);
  }
  /// The above, and some live state accepts the category. Throws nothing.
  static int IsGlobalTracing(unsigned long level, unsigned long component,
                             const Category& category) noexcept {
    return Base::IsGlobalTracing(level, component, category);
  }
  /// The global level mask. Throws nothing.
  static unsigned long QueryGlobalLevel() noexcept { return Base::QueryGlobalLevel(); }
  /// Overwrites the global level mask. Throws nothing.
  static void SetGlobalLevel(unsigned long level) noexcept { Base::SetGlobalLevel(level); }
  /// The global component mask. Throws nothing.
  static unsigned long QueryGlobalComponent() noexcept { return Base::QueryGlobalComponent(); }
  /// Overwrites the global component mask. Throws nothing.
  static void SetGlobalComponent(unsigned long component) noexcept {
    Base::SetGlobalComponent(component);
  }
  /// Recomputes both global masks. Throws nothing.
  static void SetGlobalTracing() noexcept { Base::SetGlobalTracing(); }
  /// Base::Register. Throws std::bad_alloc when the registry's element cannot be allocated.
  static void Register(const Category& category) { Base::Register(category); }
  /// Base::FindCategory. Throws nothing.
  static const Category* FindCategory(const TString& name) noexcept {
    return Base::FindCategory(name);
  }
  /// Base::ListClasses. Throws std::bad_alloc when the cursor cannot be allocated.
  static TTraceSetKnownCursor* ListClasses() { return Base::ListClasses(); }

  /// The name of the lowest set bit of `component` ("Utility", "MMToolkits", "Game",
  /// "Protocol", "Reserved5" to "Reserved32"); an empty string for 0. Throws std::bad_alloc
  /// when the string cannot be allocated.
  static TString QueryComponentName(unsigned long component);
  /// The mask of a component name (any case) or of a 1-based bit number written in decimal;
  /// 0 for an unknown name. Throws nothing.
  static unsigned long QueryComponentFromName(const TString& name) noexcept;

protected:
  /// A handle on a new state; the outputs' handles make theirs this way. Throws nothing.
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
  /// Saves the state's settings, counts the scope and calls the state's Change(); what
  /// Change() throws is dropped. Throws nothing.
  explicit SaveState(TTrace& trace) noexcept;
  /// Saves the settings and counts the scope, then replaces the level mask with `level`, adds
  /// the category's component to the component mask and switches the category on (each step
  /// calls Change()). Throws std::bad_alloc when the switch cannot be made, and what Change()
  /// throws; the saved settings are then put back and the scope is not counted.
  SaveState(TTrace& trace, unsigned long level, const Category& category);
  /// Another live scope on the same state with the same saved settings; it is counted and
  /// restores them too. Throws nothing.
  SaveState(const SaveState& other) noexcept;
  /// Ends this scope as its destructor would, then becomes a copy of `other`. Throws nothing.
  SaveState& operator=(const SaveState& other) noexcept;
  /// Restores the saved settings unless the state's disable-restore flag is set, uncounts the
  /// scope and calls Change(); what Change() throws is dropped. Throws nothing.
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
  /// A switch of `category` (copied), on when `on` is non-zero. Throws nothing.
  TElementCategory(const TTrace::Category& category, int on) noexcept
      : fCategory(category), fOn(on) {}
  /// The category: the key of the set. Throws nothing.
  const TTrace::Category& Key() const noexcept { return fCategory; }
  /// The on-flag. Throws nothing.
  int QueryOn() const noexcept { return fOn; }
  /// Sets the on-flag. Throws nothing.
  void SetOn(int on) noexcept { fOn = on; }

private:
  TTrace::Category fCategory;
  int fOn;
};

/// The category switches of a trace state, keyed by category (component and exact name).
class TAVUTIL_API TTraceSet : public TKeySetOf<TElementCategory, TTrace::Category> {};

/// Matches a known category by name without regard to case.
template <> struct TAVUTIL_API TKeyCompare<TElemPointer<TTrace::Category>, TString> {
  /// Whether the item's category has the name `name`, letter case aside. Throws nothing.
  static bool Matches(const TElemPointer<TTrace::Category>& item, const TString& name) noexcept;
};

/// The known-category registry: pointers to registered categories, keyed by name.
class TAVUTIL_API TTraceSetKnown : public TKeySetOf<TElemPointer<TTrace::Category>, TString> {};

/// A cursor over the known categories, yielding TElemPointer<TTrace::Category> items.
class TAVUTIL_API TTraceSetKnownCursor : public TTraceSetKnown::Cursor {
public:
  /// A cursor before the first category of `set`. Throws nothing.
  explicit TTraceSetKnownCursor(TTraceSetKnown& set) noexcept : TTraceSetKnown::Cursor(set) {}
};

/// The library's own trace categories, all of component 1 ("Utility"), each named as its
/// member ("CRTmsg" for CrtMsg).
class TAVUTIL_API TUtilityTraceCategory {
public:
  static const TTrace::Category TagVar;      ///< tagged values
  static const TTrace::Category NLSResource; ///< language search path and resource libraries
  static const TTrace::Category Message;     ///< messages and message stores
  static const TTrace::Category Trace;       ///< the trace specification and outputs
  static const TTrace::Category Queue;       ///< no code in the library
  static const TTrace::Category Utility;     ///< reference counting, mutexes, threads
  static const TTrace::Category String;      ///< strings and dynamic libraries
  static const TTrace::Category Factory;     ///< the factory loader
  static const TTrace::Category CrtMsg;      ///< "CRTmsg", the subject of TCrtMsg
  static const TTrace::Category MemStream;   ///< temporary-file streams
  static const TTrace::Category OleStream;   ///< COM streams
};

#endif // TAVUTIL_TRACE_H
