// tests/factory_test.cpp: factory types, the factory loader, provider libraries and trace
// factories.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/factory.h>
#include <tavutil/tracefactory.h>

#include "helpers/trace_entry.h"
#include "library_error.h"
#include "temp_directory.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kPlugins = std::string(TAVUTIL_TEST_BINARY_DIR) + "/plugins";

class TWidgetFactory : public TFactory<TWidgetFactory> {
public:
  explicit TWidgetFactory(const char* type) : TFactory<TWidgetFactory>(TFactoryType(type)) {}
};
class TWidgetLoader : public TFactoryLoader<TWidgetFactory> {};

/// Where the factory loader's diagnostics come from.
const TraceSource kFactory{TUtilityTraceCategory::Factory, "utility/FACTORY"};

/// Expects a lookup of type Widget in `library` to fail: the failure traced at `line` with each of
/// `fragments` in its text, then the missing type.
void ExpectLoadFailure(const std::string& library, unsigned long line,
                       const std::vector<std::string>& fragments) {
  TWidgetLoader loader;
  const TRecording recording;
  EXPECT_EQ(loader.Find(TFactoryType(("Widget[" + library + "]").c_str())), nullptr);
  ASSERT_EQ(recording.Entries().size(), 2u);
  const std::string failure = EntryText(recording.Entries()[0], kFactory, 0x8, line);
  for (const std::string& fragment : fragments) {
    EXPECT_NE(failure.find(fragment), std::string::npos) << failure;
  }
  ExpectEntry(recording.Entries()[1], kFactory, {0x8, 187, "Unable to find factory type Widget"});
}

/// The trace factory loader, made when the process has none yet (and never deleted).
TFactoryLoader<TTraceFactory>& TraceLoader() {
  if (TTraceFactory::GetLoaderInstance() == nullptr) {
    static_cast<void>(std::make_unique<TTraceFactoryLoader>().release());
  }
  return *TTraceFactory::GetLoaderInstance();
}

/// A trace factory of the program's own; CreateTrace records its argument.
class TTestTraceFactory : public TTraceFactory {
public:
  explicit TTestTraceFactory(const std::string& type) : TTraceFactory(TFactoryType(type.c_str())) {}
  TTrace CreateTrace(const char* argument) override {
    ++calls;
    lastArgument = argument;
    return TTrace();
  }
  std::atomic<int> calls{0};
  std::string lastArgument;
};

} // namespace

TEST(TFactoryType, ParsesAndComparesTypeNames) {
  struct Case {
    const char* spec;
    const char* name;
    const char* library;
  } const cases[] = {
      {"Stream[tracelib]", "Stream", "tracelib"},
      {"Stream", "Stream", "Stream"},
      {"Stream[tracelib", "Stream", "Stream"},
      {"[lib]", "", "lib"},
      {"A[b]c]d", "A", "b"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    for (const TFactoryType& type : {TFactoryType(c.spec), TFactoryType(TString(c.spec))}) {
      EXPECT_EQ(Bytes(type.GetName()), c.name);
      EXPECT_EQ(Bytes(type.GetDllName()), c.library);
    }
  }
  EXPECT_EQ(Bytes(TFactoryType(static_cast<const char*>(nullptr)).GetName()), "");
  EXPECT_TRUE(TFactoryType("Stream[a]") == TFactoryType("STREAM[b]"));
  EXPECT_FALSE(TFactoryType("Stream") == TFactoryType("Streams"));
  EXPECT_TRUE(TFactoryType("alpha") < TFactoryType("BETA"));
  EXPECT_FALSE(TFactoryType("Same") < TFactoryType("sAME"));
}

TEST(TFactoryLoader, FindsAddsAndRemovesByTypeNameIgnoringCase) {
  TWidgetLoader loader;
  TWidgetFactory stream("Stream");
  TWidgetFactory other("Other");
  loader.Add(TFactoryType("Stream[widgets]"), &stream);
  loader.Add(other.GetType(), &other);
  EXPECT_EQ(loader.Find(TFactoryType("STREAM")), &stream);
  EXPECT_EQ(loader.Find(TFactoryType("other[elsewhere]")), &other);

  ExpectRaises([&] { loader.Add(TFactoryType("stream"), &other); },
               {"TInvalidRequest", "Already defined", 1, 1, "utility/FACTORY", 212});
  loader.Remove(TFactoryType("NeverAdded"));
  loader.Remove(TFactoryType("Stream"), &other); // not its factory: stays
  EXPECT_EQ(loader.Find(TFactoryType("Stream")), &stream);
  loader.Remove(TFactoryType("sTrEaM"));
  loader.Add(TFactoryType("Stream"), &other); // the name is free again
  EXPECT_EQ(loader.Find(TFactoryType("Stream")), &other);
}

TEST(TFactoryLoader, ProviderLibraryFailuresAreTracedWithTheLoadersReason) {
  const std::string missing = kPlugins + "/tavplug_missing";
  ExpectLoadFailure(missing, 331,
                    {"Unable to load Dll ", "rc=x",
                     MissingLibraryFragment("tavplug_missing" TAVUTIL_TEST_LIBRARY_SUFFIX)});
  ExpectLoadFailure(missing + ".SO", 331,
                    {"Unable to load Dll ", MissingLibraryFragment("tavplug_missing.SO")});
  ExpectLoadFailure(kPlugins + "/tavplug_noentry", 340,
                    {"does not have an entry point named FactoryLoaderInitializeDll",
                     MissingSymbolFragment("FactoryLoaderInitializeDll")});
  if (kHasUnresolvedLibrary) {
    ExpectLoadFailure(kPlugins + "/tavplug_unresolved", 331,
                      {"Unable to load Dll ", MissingSymbolFragment("TavplugNowhereDefined")});
  }

  // A library name that leads to a directory or a FIFO is refused before the loader reads it:
  // a FIFO would keep the loader waiting for a writer for ever.
  const std::string directory = MakeTempDirectory("factory_test");
  ASSERT_FALSE(directory.empty());
  const std::string suffix = TAVUTIL_TEST_LIBRARY_SUFFIX;
  std::filesystem::create_directory(directory + "/folder" + suffix);
  ExpectLoadFailure(directory + "/folder", 331,
                    {directory + "/folder" + suffix + ": not a regular file"});
  if (MakeFifo(directory + "/fifo" + suffix)) {
    ExpectLoadFailure(directory + "/fifo", 331,
                      {directory + "/fifo" + suffix + ": not a regular file"});
  }
  std::filesystem::remove_all(directory);
}

TEST(TTraceFactoryLoader, IsASingleton) {
  std::unique_ptr<TTraceFactoryLoader> own;
  if (TTraceFactory::GetLoaderInstance() == nullptr) {
    own = std::make_unique<TTraceFactoryLoader>();
  }
  TFactoryLoader<TTraceFactory>* first = TTraceFactoryLoader::GetInstance();
  ExpectRaises([] { TTraceFactoryLoader second; },
               {"TInvalidRequest", "Singleton Object", 1, 1, "utility/FACTORY", 274});
  EXPECT_EQ(TTraceFactoryLoader::GetInstance(), first);
  if (own) {
    own.reset();
    EXPECT_EQ(TTraceFactory::GetLoaderInstance(), nullptr) << "its destructor clears it";
  }
}

TEST(TTraceFactory, RegistrationFollowsObjectLifetime) {
  TFactoryLoader<TTraceFactory>* saved = TTraceFactory::GetLoaderInstance();
  TTraceFactory::SetLoaderInstance(nullptr);
  TTestTraceFactory early("EarlyTrace"); // no loader yet: never registered
  TTraceFactory::SetLoaderInstance(saved);
  TFactoryLoader<TTraceFactory>& loader = TraceLoader();
  const TRecording recording; // takes the misses' entries
  EXPECT_EQ(loader.Find(TFactoryType("EarlyTrace[tavplug_missing]")), nullptr);

  auto late = std::make_unique<TTestTraceFactory>("LateTrace");
  EXPECT_EQ(loader.Find(TFactoryType("latetrace")), late.get());
  // A namesake is refused, and its destruction leaves the registration alone.
  EXPECT_THROW(TTestTraceFactory("LATETRACE"), TInvalidRequest);
  EXPECT_EQ(loader.Find(TFactoryType("LateTrace")), late.get());

  // A specification naming the type reaches CreateTrace with the argument as written.
  const TTrace handle("LateTrace( spaced (nested) argument )");
  EXPECT_EQ(late->calls, 1);
  EXPECT_EQ(late->lastArgument, " spaced (nested) argument ");

  late.reset();
  EXPECT_EQ(loader.Find(TFactoryType("LateTrace[tavplug_missing]")), nullptr);
}

TEST(TTraceFactory, ProviderLibraryFoundAlongTheLibraryPath) {
  TFactoryLoaderBase::AddLibpath("/nonexistent");
  TFactoryLoaderBase::AddLibpath(kPlugins.c_str());
  EXPECT_EQ(Bytes(TFactoryLoaderBase::fsLibpath).rfind(kPlugins + ";/nonexistent;", 0), 0u);

  const std::string file =
      ::testing::TempDir() + "tavplug." + std::to_string(std::random_device()());
  {
    const TTrace trace(("PlugTrace[tavplug_trace](" + file + ")").c_str());
    ASSERT_FALSE(trace.QueryPointer().IsNull());
    TMessage message("through a provider's output");
    message.SetDebugging("plug.cpp", 7);
    TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, message);
  }
  // The output is on the file the argument names, exactly.
  const std::string written = FileContents(file);
  std::remove(file.c_str());
  ASSERT_GT(written.size(), 28u);
  EXPECT_EQ(written.substr(28), " [plug.cpp:7] through a provider's output\n");
}

// Threads load a provider library and build outputs from it while other threads register,
// use and destroy factories of their own: no access races (ThreadSanitizer), and no thread
// finds the provider's type missing once it asked for it.
TEST(TTraceFactoryThreaded, RegistrationLoadingAndLookupsRunConcurrently) {
  TFactoryLoader<TTraceFactory>& loader = TraceLoader();
  const std::string libraryType = "PlugTrace[" + kPlugins + "/tavplug_trace]";
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        if (t % 2 == 0) {
          failures += loader.Find(TFactoryType(libraryType.c_str())) == nullptr;
          const TTrace trace((libraryType + "()").c_str()); // an empty argument: no output
          continue;
        }
        const std::string type = "Own" + std::to_string(t) + "_" + std::to_string(i);
        TTestTraceFactory factory(type);
        failures += loader.Find(TFactoryType(type.c_str())) != &factory;
        const TTrace trace((type + "(x)").c_str());
        failures += factory.calls != 1;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(failures, 0);
}
