// tests/recording_trace.h: a trace output that records the entries it takes, for tests.
// Licensed under the Apache License, Version 2.0.
#ifndef TAVUTIL_TESTS_RECORDING_TRACE_H
#define TAVUTIL_TESTS_RECORDING_TRACE_H

#include <tavutil/message.h>
#include <tavutil/trace.h>

#include <atomic>
#include <deque>
#include <stdexcept>

/// A trace state that keeps a copy of every entry it takes, rendered at once under the trace
/// mutex. A deque never moves its elements: a copy shares string buffers (with counts that
/// are not atomic) with its writer's message, so it must not be copied again on another
/// thread. Tests read the entries on the writing thread or after the writers are joined.
class TRecordingState : public TTrace::Base {
public:
  struct Entry {
    unsigned long level;
    const TTrace::Category* category;
    TMessage message;
  };

  explicit TRecordingState(bool* destroyed = nullptr) : fDestroyed(destroyed) {}
  ~TRecordingState() override {
    if (fDestroyed != nullptr) {
      *fDestroyed = true;
    }
  }
  void Write(unsigned long level, const TTrace::Category& category,
             const TMessage& message) override {
    if (fail) {
      throw std::runtime_error("output failed");
    }
    entries.push_back(Entry{level, &category, message});
    static_cast<void>(entries.back().message.QueryMessage());
    ++written;
  }
  void Change() override { ++changes; }

  std::deque<Entry> entries;
  std::atomic<int> written{0};
  int changes = 0;
  bool fail = false; ///< makes Write throw

private:
  bool* fDestroyed;
};

/// A handle on a new recording state (levels 0xF of every component, as every new state).
class TRecording : public TTrace {
public:
  explicit TRecording(bool* destroyed = nullptr) : TTrace(new TRecordingState(destroyed)) {}
  TRecordingState& State() const {
    return *static_cast<TRecordingState*>(QueryPointer().QueryBase());
  }
  std::deque<TRecordingState::Entry>& Entries() const { return State().entries; }
};

#endif // TAVUTIL_TESTS_RECORDING_TRACE_H
