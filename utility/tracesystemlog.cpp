// utility/tracesystemlog.cpp: the trace output that writes each entry to the system log.
// Licensed under the Apache License, Version 2.0.
//
// Operating-system independent: the log itself is the platform layer's (syslog on POSIX
// systems). The log adds the time and the process id, so an entry is the level letter and the
// rest of a trace line: "E [file:line] text".
#include "internal/tracesystemlog.h"

#include <tavutil/message.h>

#include "internal/scopedlock.h"
#include "internal/traceline.h"

#include <exception>
#include <string>

namespace tavutil::detail {

namespace {

/// A trace state whose output is the system log under one identity.
class SystemLogState : public TTrace::Base {
public:
  SystemLogState(const char* ident, const char* address)
      : fLog(platform::OpenSystemLog(ident, address)) {}
  ~SystemLogState() override { platform::CloseSystemLog(fLog); }
  SystemLogState(const SystemLogState&) = delete;
  SystemLogState& operator=(const SystemLogState&) = delete;

  void Write(unsigned long level, const TTrace::Category& /*category*/,
             const TMessage& message) override {
    const tavutil::detail::ScopedLock lock(fsMutex);
    if (fLog == nullptr) {
      return;
    }
    try {
      const TString& text = message.QueryMessage(); // may trace: before the entry is begun
      TextBuffer entry;
      entry.Append(LevelChar(level));
      AppendLocation(entry, message);
      if (const char* bytes = text) {
        entry.Append(bytes, text.length());
      }
      platform::WriteSystemLog(*fLog, SystemLogPriority(level), entry.Data(), entry.Size());
    } catch (...) {
      // The entry is lost (memory, or a store's GetMsg that threw, whatever it threw); a
      // trace point never fails its caller.
    }
  }

private:
  platform::SystemLogHandle* fLog; ///< null when it could not be prepared
};

/// Gives the library a handle on a state it made (TTrace's constructor from a state is
/// protected).
class SystemLogTrace : public TTrace {
public:
  explicit SystemLogTrace(Base* state) noexcept : TTrace(state) {}
};

} // namespace

TTrace MakeSystemLogTrace(const char* ident, const char* address) {
  return SystemLogTrace(new SystemLogState(ident, address));
}

} // namespace tavutil::detail
