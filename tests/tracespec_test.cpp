// tests/tracespec_test.cpp: TTrace(const char*), a trace handle configured by one line of text.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tracefactory.h>

#include "helpers/trace_entry.h"
#include "library_error.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

/// Where the diagnostics of the one-line trace settings parser come from.
const TraceSource kTracep{TUtilityTraceCategory::Trace, "utility/TRACEP"};

constexpr unsigned long kAll = 0xFFFFFFFF;

} // namespace

TEST(TTraceSpecification, FieldsSetTheStateAsTheTableSays) {
  struct Case {
    const char* spec;
    unsigned long level;
    unsigned long component;
    int defaultTracing;
  } const cases[] = {
      {"stdout", 0xF, kAll, 1},
      {"STDERR,er+wa", 0xC, kAll, 1},
      {"stdout,al+d2-", 0x353F, kAll, 1},
      {"stdout,er-wa", 0x8, kAll, 1},
      {"stdout,er wa", 0x4, kAll, 1},
      {"stdout,er\tzz!", 0x4, kAll, 1},
      {"stdout,er+", 0x4, kAll, 1},
      {"stdout,AL", 0x373F, kAll, 1},
      {"stdout,de", 0x3700, kAll, 1},
      {"stdout,no", 0, kAll, 1},
      {"stdout,Tr+nL+i2+In+ou+Se+xc+En+eX+d1", 0x1035B3, kAll, 1},
      {"stdout,,Utility+Game", 0xF, 5, 1},
      {"stdout,,1+4", 0xF, 9, 1},
      {"stdout,,Game-Utility", 0xF, 1, 1},
      {"stdout,,Game+Utility-", 0xF, 4, 1},
      {"stdout,,Nonsense+Protocol", 0xF, 8, 1},
      {"stdout,,,0", 0xF, kAll, 0},
      {"stdout,,,1", 0xF, kAll, 1},
      {"stdout,wa,2,0,", 0x8, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    const TTrace trace(c.spec);
    ASSERT_FALSE(trace.QueryPointer().IsNull());
    EXPECT_EQ(trace.QueryLevel(), c.level);
    EXPECT_EQ(trace.QueryComponent(), c.component);
    EXPECT_EQ(trace.QueryDefaultTracing(), c.defaultTracing);
    EXPECT_EQ(trace.QueryDisplayPrefix(), 0); // standard streams show the letter alone
  }
}

TEST(TTraceSpecification, MalformedFieldsThrowAndReleaseTheOutput) {
  struct Case {
    const char* spec;
    const char* text;
    unsigned long line;
  } const cases[] = {
      {"stdout,erwa", "Unknown level +- specified", 474},
      {"stdout,er+wa*", "Unknown level +- specified", 474},
      {"stdout,zz", "Unknown level specified", 465},
      {"stdout,e", "Unknown level specified", 465},
      {"stdout,er+w", "Unknown level specified", 465},
      {"stdout, er", "Unknown level specified", 465},
      {"stdout,,,2", "Invalid default specified", 510},
      {"stdout,,,10", "Invalid default specified", 510},
      {"stdout,,, 1", "Invalid default specified", 510},
  };
  const unsigned long levelBefore = TTrace::QueryGlobalLevel();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    ExpectRaises([&] { TTrace trace(c.spec); },
                 {"TInvalidRequest", c.text, 1, 1, "utility/TRACEP", c.line});
    EXPECT_EQ(TTrace::QueryGlobalLevel(), levelBefore) << "the output made first is gone";
  }
}

TEST(TTraceSpecification, CategoriesAreSwitchedByNameAndUnknownOnesTraced) {
  const TRecording recording;
  const TTrace trace("stdout,no,,,string-Message+Nothing+CRTmsg,Queue");
  EXPECT_EQ(trace.UsesDefault(TUtilityTraceCategory::String), 1);
  EXPECT_EQ(trace.QueryCategory(TUtilityTraceCategory::String), 0);
  EXPECT_EQ(trace.QueryCategory(TUtilityTraceCategory::Message), 1);
  // The last field runs to the end, commas included: "CRTmsg,Queue" is one unknown name.
  EXPECT_EQ(trace.UsesDefault(TUtilityTraceCategory::CrtMsg), 0);
  EXPECT_EQ(trace.UsesDefault(TUtilityTraceCategory::Queue), 0);
  ExpectEntriesOf(recording, kTracep,
                  {{0x8, 535, "Trace category Nothing not found"},
                   {0x8, 535, "Trace category CRTmsg,Queue not found"}});
}

TEST(TTraceSpecification, EmptyTextsAndUnknownOutputsGiveEmptyHandles) {
  EXPECT_TRUE(TTrace(static_cast<const char*>(nullptr)).QueryPointer().IsNull());
  EXPECT_TRUE(TTrace("").QueryPointer().IsNull());
  const TRecording recording;
  // Fields after an output that was not made are not read: no throw for the bad level.
  EXPECT_TRUE(TTrace("NoOutputHere[tavplug_missing],zz").QueryPointer().IsNull());
  ExpectEntriesOf(recording, kTracep,
                  {{0x4, 452, "Unable to load trace factory NoOutputHere[tavplug_missing]"}});
}

TEST(TTraceSpecification, FileOutputsOpenTheNamedFileOrTheDefaultLog) {
  const std::string file = ::testing::TempDir() + "tracespec." + std::to_string(::getpid());
  std::ofstream(file) << "old contents\n";
  {
    const TTrace trace(("FILE(" + file + ")").c_str());
    ASSERT_FALSE(trace.QueryPointer().IsNull());
    EXPECT_EQ(trace.QueryDisplayPrefix(), 1);
    EXPECT_EQ(FileContents(file), "") << "file truncates";
  }
  ::unlink(file.c_str());

  // Without an argument: the executable's path with ".log" for its extension; a program without
  // one (as on POSIX systems) is traced first.
  const std::string defaultLog = std::string(TAVUTIL_TEST_BINARY_DIR) + "/tracespec_test.log";
  const bool programHasExtension = std::string(TAVUTIL_TEST_EXECUTABLE_SUFFIX).size() > 0;
  for (const char* spec : {"file", "shfile()"}) {
    SCOPED_TRACE(spec);
    ::unlink(defaultLog.c_str());
    const TRecording recording;
    const TTrace trace(spec);
    ASSERT_FALSE(trace.QueryPointer().IsNull());
    EXPECT_EQ(::access(defaultLog.c_str(), F_OK), 0);
    const ExpectedEntry noExtension{0x8, 431,
                                    "Unable to find '.', using " + defaultLog + " for file"};
    ExpectEntriesOf(recording, kTracep,
                    programHasExtension ? std::vector<ExpectedEntry>() : std::vector{noExtension});
  }
  ::unlink(defaultLog.c_str());
}

TEST(TTraceSpecification, SharedFileAndSystemLogOutputs) {
  const std::string file = ::testing::TempDir() + "tracespec.sh." + std::to_string(::getpid());
  // The system log: an output for "pm" with or without an identity (the platform's own test
  // reads its records back).
  for (const std::string& spec :
       {"shfile(" + file + "),er", std::string("pm,er"), std::string("PM(myservice),er")}) {
    SCOPED_TRACE(spec);
    const TTrace trace(spec.c_str());
    ASSERT_FALSE(trace.QueryPointer().IsNull());
    EXPECT_EQ(trace.QueryLevel(), 0x4u);
    TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, TMessage("entry"));
  }
  EXPECT_EQ(FileContents(file).substr(37), " [????.???:0] entry\n");
  ::unlink(file.c_str());
}

namespace {

/// Makes recording outputs, so a test can see the output of a failed specification go.
class TRecordingFactory : public TTraceFactory {
public:
  TRecordingFactory() : TTraceFactory(TFactoryType("Recorder")) {}
  TTrace CreateTrace(const char* /*argument*/) override { return TRecording(&destroyed); }
  bool destroyed = false;
};

} // namespace

TEST(TTraceSpecification, AThrowDestroysTheFactoryMadeOutput) {
  if (TTraceFactory::GetLoaderInstance() == nullptr) {
    static_cast<void>(std::make_unique<TTraceFactoryLoader>().release());
  }
  TRecordingFactory factory;
  {
    const TTrace kept("recorder,er");
    EXPECT_FALSE(factory.destroyed);
  }
  EXPECT_TRUE(factory.destroyed);
  factory.destroyed = false;
  EXPECT_THROW(TTrace("Recorder,er,,x"), TInvalidRequest);
  EXPECT_TRUE(factory.destroyed);
}
