// tests/olestrm_test.cpp: COM streams over an IStream of the tests' own that records every
// call and fails on demand: buffering, reference counts, failures and their trace entries.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/olestrm.h>
#include <tavutil/tagvar.h>

#include "helpers/trace_entry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

/// An in-memory IStream: reads from `source`, appends writes to `sink`, and records the size
/// of every Read and Write. `readResult` / `writeResult` replace the result of the next calls
/// (the transfer still happens for a success code); `writeLimit` caps what one Write takes.
class TRecordingStream : public IStream {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID /*riid*/, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }

  HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* got) override {
    reads.push_back(size);
    ULONG n = 0;
    if (SUCCEEDED(readResult)) {
      n = static_cast<ULONG>(std::min<std::size_t>(size, source.size() - position));
      std::memcpy(data, source.data() + position, n);
      position += n;
    }
    *got = n;
    return readResult;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override {
    writes.push_back(size);
    const ULONG n = std::min(size, writeLimit);
    sink.append(static_cast<const char*>(data), n);
    *written = n;
    return writeResult;
  }

  // The rest is never called by the streams.
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

  ULONG references = 1;
  std::string source;
  std::size_t position = 0;
  std::string sink;
  std::vector<ULONG> reads;
  std::vector<ULONG> writes;
  HRESULT readResult = S_OK;
  HRESULT writeResult = S_OK;
  ULONG writeLimit = ~0U;
};

/// Expects one failure entry of the COM streams at `line`: the stream pointer and the result
/// as arguments, rendered into `format`.
void ExpectFailureEntry(const TRecordingState::Entry& entry, unsigned long line, const char* format,
                        IStream* stream, HRESULT result) {
  char text[160];
  std::snprintf(text, sizeof text, format, static_cast<void*>(stream), static_cast<int>(result));
  ExpectEntry(entry, {TUtilityTraceCategory::OleStream, "utility/OLESTRM"}, {0x4, line, text});
  ASSERT_EQ(entry.message.QueryNumberArgs(), 2U); // the values themselves, as tagged
  EXPECT_EQ(entry.message[0].QueryVoidPtr(), static_cast<void*>(stream));
  EXPECT_EQ(static_cast<long>(entry.message[1]), static_cast<long>(result));
}

constexpr char kWriteFormat[] = "Error writing from IStream interface, fStream=x%p, rc=%d";
constexpr char kReadFormat[] = "error reading from IStream interface, fStream=x%p, rc=%d";

TEST(TOleStream, WritesOnlyWhenFlushedOrFull) {
  TRecordingStream com;
  {
    ToOleStream out(&com);
    out.write("0123456789", 10);
    EXPECT_TRUE(com.writes.empty());
    EXPECT_EQ(out.QueryBytesWritten(), 10U);
    out.flush();
    EXPECT_EQ(com.writes, std::vector<ULONG>({10}));
    EXPECT_EQ(out.QueryBytesWritten(), 10U);
  }
  com.writes.clear();
  {
    ToOleStream out(&com);
    const std::string data(10241, 'x');
    out.write(data.data(), 10241);
    EXPECT_EQ(com.writes, std::vector<ULONG>({10240}));
    out.flush();
    EXPECT_EQ(com.writes, std::vector<ULONG>({10240, 1}));
    out << "not flushed";
  }
  EXPECT_EQ(com.writes.size(), 2U); // destruction writes nothing out
  EXPECT_EQ(com.sink, "0123456789" + std::string(10241, 'x'));
}

TEST(TOleStream, ReadWriteSplitsTheBufferInHalves) {
  TRecordingStream com;
  com.source = std::string(120, 'r');
  TOleStream stream(100, &com);
  std::string in(120, '\0');
  stream.read(in.data(), 120);
  EXPECT_EQ(in, com.source);
  EXPECT_EQ(com.reads, std::vector<ULONG>({50, 50, 50}));
  stream.write(std::string(120, 'w').data(), 120);
  stream.flush();
  EXPECT_EQ(com.writes, std::vector<ULONG>({50, 50, 20}));
  EXPECT_EQ(stream.QueryBytesWritten(), 120U);
}

TEST(TOleStream, EndOfStreamAndFailures) {
  TRecording trace;
  TRecordingStream com;
  com.source = "abc";
  TiOleStream in(&com);
  EXPECT_EQ(StreamContents(in), "abc");
  EXPECT_TRUE(trace.Entries().empty()); // the end of the stream is no failure

  // S_FALSE with bytes is a success (a stream that reached its end says so).
  com.source = "abcdef";
  com.readResult = S_FALSE;
  in.clear();
  EXPECT_EQ(in.get(), 'd');
  EXPECT_TRUE(trace.Entries().empty());

  in.clear();
  in.ignore(10); // up to the end
  in.clear();
  com.readResult = E_FAIL;
  EXPECT_EQ(in.get(), EOF);
  ASSERT_EQ(trace.Entries().size(), 1U);
  ExpectFailureEntry(trace.Entries()[0], 317, kReadFormat, &com, E_FAIL);

  in.clear();
  EXPECT_EQ(in.tellg(), -1);
  in.seekg(0);
  EXPECT_TRUE(in.fail());
}

TEST(TOleStream, FailingAndShortWrites) {
  TRecording trace;
  TRecordingStream com;
  ToOleStream out(8, &com);
  com.writeLimit = 3;
  out.write("abcdef", 6);
  out.flush();
  EXPECT_TRUE(out.bad()); // a short write fails...
  EXPECT_TRUE(trace.Entries().empty());
  EXPECT_EQ(out.QueryBytesWritten(), 6U); // ...and the rest waits in the put area
  com.writeLimit = ~0U;
  out.clear();
  out.flush();
  EXPECT_EQ(com.sink, "abcdef"); // nothing lost, nothing repeated

  com.writeResult = STG_E_MEDIUMFULL;
  com.writeLimit = 2;
  out << "xyz";
  out.flush();
  EXPECT_TRUE(out.bad());
  ASSERT_EQ(trace.Entries().size(), 1U);
  ExpectFailureEntry(trace.Entries()[0], 198, kWriteFormat, &com, STG_E_MEDIUMFULL);
  EXPECT_EQ(out.QueryBytesWritten(), 9U); // the failing Write's count is included
  EXPECT_EQ(com.sink, "abcdefxy");
}

TEST(TOleStream, UnbufferedTransfersOneBytePerCall) {
  TRecording trace;
  TRecordingStream com;
  com.source = "hi";
  TOleStream stream(0, &com);
  stream << "ok";
  EXPECT_EQ(com.writes, std::vector<ULONG>({1, 1}));
  EXPECT_EQ(stream.get(), 'h');
  EXPECT_EQ(stream.get(), 'i');
  EXPECT_EQ(com.reads, std::vector<ULONG>({1, 1}));

  com.writeResult = E_FAIL;
  stream << 'x';
  EXPECT_TRUE(stream.bad());
  stream.clear();
  com.readResult = E_FAIL;
  EXPECT_EQ(stream.get(), EOF);
  ASSERT_EQ(trace.Entries().size(), 2U);
  ExpectFailureEntry(trace.Entries()[0], 234, kWriteFormat, &com, E_FAIL);
  ExpectFailureEntry(trace.Entries()[1], 277, kReadFormat, &com, E_FAIL);

  // pubsetbuf(nullptr, 0) before the first transfer also makes a buffer unbuffered.
  TRecordingStream other;
  ToOleStream out(&other);
  EXPECT_EQ(out.rdbuf()->pubsetbuf(nullptr, 0), out.rdbuf());
  out << "ab";
  EXPECT_EQ(other.writes, std::vector<ULONG>({1, 1}));
  EXPECT_EQ(out.rdbuf()->pubsetbuf(nullptr, 16), nullptr);
}

TEST(TOleStream, WrongDirectionsFailWithoutCalls) {
  TRecordingStream com;
  com.source = "data";
  ToOleStream out(&com);
  TiOleStream in(&com);
  EXPECT_EQ(out.rdbuf()->sgetc(), EOF);   // a writeOnly buffer has no get area
  EXPECT_EQ(in.rdbuf()->sputc('x'), EOF); // a readOnly buffer has no put area
  TOleStream none(nullptr);
  none << "y" << std::flush;
  EXPECT_TRUE(none.bad());
  EXPECT_TRUE(com.reads.empty());
  EXPECT_TRUE(com.writes.empty());
}

TEST(TOleStream, HoldsOneReferenceWhileItLives) {
  TRecordingStream com;
  {
    TOleStream stream(&com);
    TiOleStream in(&com);
    EXPECT_EQ(com.references, 3U);
  }
  EXPECT_EQ(com.references, 1U);
}

} // namespace
