// tests/factory_test.cpp: factory types, the factory loader, provider libraries and trace
// factories.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/factory.h>
#include <tavutil/tracefactory.h>

#include "library_error.h"
#include "recording_trace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string kPlugins = std::string(TAVUTIL_TEST_BINARY_DIR) + "/plugins";

std::string Text(const TString& s) {
  const char* text = s;
  return text != nullptr ? std::string(text, s.length()) : std::string("<none>");
}

/// A kind of factory for the untyped loader's tests.
class TWidgetFactory : public TFactory<TWidgetFactory> {
public:
  explicit TWidgetFactory(const char* type) : TFactory<TWidgetFactory>(TFactoryType(type)) {}
};

class TWidgetLoader : public TFactoryLoader<TWidgetFactory> {};

/// The rendered texts of the Factory entries a recording took.
std::vector<std::string> FactoryTexts(const TRecording& recording) {
  std::vector<std::string> texts;
  for (const TRecordingState::Entry& entry : recording.Entries()) {
    if (entry.category == &TUtilityTraceCategory::Factory) {
      EXPECT_EQ(entry.level, 0x8u);
      EXPECT_STREQ(entry.message.QueryFile(), "utility/FACTORY");
      texts.push_back(Text(entry.message.QueryMessage()));
    }
  }
  return texts;
}

/// The trace factory loader, made when the process has none yet (the library never deletes
/// the one it makes, and neither do these tests).
TFactoryLoader<TTraceFactory>& TraceLoader() {
  if (TTraceFactory::GetLoaderInstance() == nullptr) {
    static_cast<void>(std::make_unique<TTraceFactoryLoader>().release());
  }
  return *TTraceFactory::GetLoaderInstance();
}

/// A trace factory made by the test program; CreateTrace gives an empty handle.
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

TEST(TFactoryType, ParsesTypeAndLibraryNames) {
  struct Case {
    const char* spec;
    const char* name;
    const char* library;
  } const cases[] = {
      {"Stream[tracelib]", "Stream", "tracelib"},
      {"Stream", "Stream", "Stream"},
      {"Stream[tracelib", "Stream", "Stream"},
      {"Stream[]", "Stream", ""},
      {"[lib]", "", "lib"},
      {"A[b]c]d", "A", "b"},
      {"A[b[c]", "A", "b[c"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    const TFactoryType type(c.spec);
    EXPECT_EQ(Text(type.GetName()), c.name);
    EXPECT_EQ(Text(type.GetDllName()), c.library);
    const TFactoryType fromString{TString(c.spec)};
    EXPECT_EQ(Text(fromString.GetName()), c.name);
    EXPECT_EQ(Text(fromString.GetDllName()), c.library);
  }
  const TFactoryType none(static_cast<const char*>(nullptr));
  EXPECT_EQ(Text(none.GetName()), "");
  EXPECT_EQ(Text(none.GetDllName()), "");
}

TEST(TFactoryType, ComparesTypeNamesIgnoringCaseAndLibrary) {
  EXPECT_TRUE(TFactoryType("Stream[a]") == TFactoryType("STREAM[b]"));
  EXPECT_TRUE(TFactoryType("stream").IsEqual(TFactoryType("Stream")));
  EXPECT_FALSE(TFactoryType("Stream") == TFactoryType("Streams"));
  EXPECT_TRUE(TFactoryType("alpha") < TFactoryType("BETA"));
  EXPECT_FALSE(TFactoryType("BETA") < TFactoryType("alpha"));
  EXPECT_FALSE(TFactoryType("Same") < TFactoryType("sAME"));

  TFactoryType type("One[lib1]");
  type = TFactoryType("Two[lib2]");
  const TFactoryType& alias = type;
  type = alias; // assigning a type to itself keeps it
  EXPECT_EQ(Text(type.GetName()), "Two");
  EXPECT_EQ(Text(type.GetDllName()), "lib2");
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
  EXPECT_EQ(loader.Find(TFactoryType("Stream")), &stream); // the refused one changed nothing

  loader.Remove(TFactoryType("NeverAdded"));
  loader.Remove(TFactoryType("Stream"), &other); // not its factory: stays
  EXPECT_EQ(loader.Find(TFactoryType("Stream")), &stream);
  loader.Remove(TFactoryType("sTrEaM"));
  loader.Add(TFactoryType("Stream"), &other); // the name is free again
  EXPECT_EQ(loader.Find(TFactoryType("Stream")), &other);
}

TEST(TFactoryLoader, ProviderLibraryFailuresAreTracedWithTheLoadersReason) {
  struct Case {
    const char* library;
    std::vector<std::string> expected; ///< fragments of the first entry
  } const cases[] = {
      {"tavplug_missing", {"Unable to load Dll ", "rc=x", "cannot open shared object file"}},
      {"tavplug_noentry",
       {"does not have an entry point named FactoryLoaderInitializeDll",
        "undefined symbol: FactoryLoaderInitializeDll"}},
      {"tavplug_unresolved", {"Unable to load Dll ", "undefined symbol: TavplugNowhereDefined"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    const std::string path = kPlugins + "/" + c.library;
    TWidgetLoader loader;
    const TRecording recording;
    EXPECT_EQ(loader.Find(TFactoryType(("Widget[" + path + "]").c_str())), nullptr);
    const std::vector<std::string> texts = FactoryTexts(recording);
    ASSERT_EQ(texts.size(), 2u) << "the failure, then the missing type";
    EXPECT_NE(texts[0].find(path), std::string::npos) << texts[0];
    for (const std::string& fragment : c.expected) {
      EXPECT_NE(texts[0].find(fragment), std::string::npos) << texts[0];
    }
    EXPECT_EQ(texts[1], "Unable to find factory type Widget");
  }
}

TEST(TFactoryLoader, LoadDllAppendsTheSuffixOnlyWhenMissing) {
  TWidgetLoader loader;
  const TRecording recording;
  char name[] = "tavplug_nosuch.SO";
  EXPECT_EQ(loader.LoadDll(name), 1);
  EXPECT_EQ(loader.LoadDll("tavplug_nosuch"), 1);
  const std::vector<std::string> texts = FactoryTexts(recording);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].find("tavplug_nosuch.SO: cannot open"), std::string::npos) << texts[0];
  EXPECT_NE(texts[1].find("tavplug_nosuch.so: cannot open"), std::string::npos) << texts[1];
  EXPECT_EQ(loader.LoadDll(TFactoryType("Widget[tavplug_nosuch]")), 0); // 0 whatever happens
}

TEST(TFactoryLoader, AddLibpathPutsDirectoriesInFront) {
  const TString saved = TFactoryLoaderBase::fsLibpath;
  TFactoryLoaderBase::fsLibpath = TString("");
  TFactoryLoaderBase::AddLibpath("/b");
  TFactoryLoaderBase::AddLibpath("/a");
  TFactoryLoaderBase::AddLibpath(nullptr);
  TFactoryLoaderBase::AddLibpath("");
  EXPECT_EQ(Text(TFactoryLoaderBase::fsLibpath), "/a;/b;");
  TFactoryLoaderBase::fsLibpath = saved;
}

TEST(TTraceFactoryLoader, IsASingleton) {
  std::unique_ptr<TTraceFactoryLoader> own;
  if (TTraceFactory::GetLoaderInstance() == nullptr) {
    own = std::make_unique<TTraceFactoryLoader>();
  }
  TFactoryLoader<TTraceFactory>* first = TTraceFactoryLoader::GetInstance();
  ASSERT_NE(first, nullptr);
  ExpectRaises([] { TTraceFactoryLoader second; },
               {"TInvalidRequest", "Singleton Object", 1, 1, "utility/FACTORY", 274});
  EXPECT_EQ(TTraceFactoryLoader::GetInstance(), first);
  if (own) {
    own.reset();
    EXPECT_EQ(TTraceFactory::GetLoaderInstance(), nullptr);
  }
}

TEST(TTraceFactory, RegistrationFollowsObjectLifetime) {
  TFactoryLoader<TTraceFactory>* saved = TTraceFactory::GetLoaderInstance();
  TTraceFactory::SetLoaderInstance(nullptr);
  TTestTraceFactory early("EarlyTrace"); // no loader yet: never registered
  TTraceFactory::SetLoaderInstance(saved);
  TFactoryLoader<TTraceFactory>& loader = TraceLoader();

  auto late = std::make_unique<TTestTraceFactory>("LateTrace");
  EXPECT_EQ(loader.Find(TFactoryType("latetrace")), late.get());
  {
    const TRecording recording;
    EXPECT_EQ(loader.Find(TFactoryType("EarlyTrace[tavplug_missing]")), nullptr);
  }
  // A namesake made now is refused, and its destruction leaves the registration alone.
  EXPECT_THROW(TTestTraceFactory("LATETRACE"), TInvalidRequest);
  EXPECT_EQ(loader.Find(TFactoryType("LateTrace")), late.get());

  // A specification naming the type reaches CreateTrace with the argument as written.
  const TTrace handle("LateTrace( spaced (nested) argument )");
  EXPECT_EQ(late->calls, 1);
  EXPECT_EQ(late->lastArgument, " spaced (nested) argument ");
  EXPECT_TRUE(handle.QueryPointer().IsNull());

  late.reset();
  const TRecording recording;
  EXPECT_EQ(loader.Find(TFactoryType("LateTrace[tavplug_missing]")), nullptr);
}

TEST(TTraceFactory, ProviderLibraryFoundAlongTheLibraryPath) {
  TFactoryLoaderBase::AddLibpath(kPlugins.c_str());
  const std::string file =
      ::testing::TempDir() + "tavplug_trace." + std::to_string(::getpid()) + ".log";
  {
    TTrace trace(("PlugTrace[tavplug_trace](" + file + ")").c_str());
    ASSERT_FALSE(trace.QueryPointer().IsNull());
    TMessage message("through a provider's output");
    message.SetDebugging("plug.cpp", 7);
    TTrace::WriteEntry(0x4, TUtilityTraceCategory::Utility, message);
  }
  using ArgumentReader = void (*)(char*, unsigned);
  void* plugin = ::dlopen((kPlugins + "/tavplug_trace.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(plugin, nullptr) << "the loader loaded it, and never unloads it";
  auto read = reinterpret_cast<ArgumentReader>(::dlsym(plugin, "TavplugLastArgument"));
  ASSERT_NE(read, nullptr);
  char argument[512];
  read(argument, sizeof argument);
  EXPECT_EQ(std::string(argument), file);
  ::dlclose(plugin); // drops the reference RTLD_NOLOAD took; the loader's stays

  std::ifstream in(file);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(line.find("E [plug.cpp:7] through a provider's output"), std::string::npos) << line;
  ::unlink(file.c_str());

  // An unknown output name without a provider: an empty handle and one entry at level 0x4.
  const TRecording recording;
  const TTrace none("NoSuchOutput[tavplug_missing](x)");
  EXPECT_TRUE(none.QueryPointer().IsNull());
  bool traced = false;
  for (const TRecordingState::Entry& entry : recording.Entries()) {
    if (entry.category == &TUtilityTraceCategory::Trace) {
      EXPECT_EQ(entry.level, 0x4u);
      EXPECT_EQ(Text(entry.message.QueryMessage()),
                "Unable to load trace factory NoSuchOutput[tavplug_missing]");
      traced = true;
    }
  }
  EXPECT_TRUE(traced);
}

// Threads load a provider library and build outputs from it while other threads register,
// use and destroy factories of their own: under ThreadSanitizer no access races, and no
// thread ever finds a factory before its library's entry point has returned.
TEST(TTraceFactoryThreaded, RegistrationLoadingAndLookupsRunConcurrently) {
  TFactoryLoader<TTraceFactory>& loader = TraceLoader();
  const std::string libraryType = "PlugTrace[" + kPlugins + "/tavplug_trace]";
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> outputs{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      if (t % 2 == 0) {
        for (int i = 0; i < kRounds / 10; ++i) {
          // An empty argument makes the provider give an empty handle; Find must not be null.
          if (loader.Find(TFactoryType(libraryType.c_str())) == nullptr) {
            ++failures;
          }
          const TTrace trace((libraryType + "()").c_str());
          ++outputs;
        }
        return;
      }
      for (int i = 0; i < kRounds; ++i) {
        const std::string type = "Own" + std::to_string(t) + "_" + std::to_string(i);
        TTestTraceFactory factory(type);
        if (loader.Find(TFactoryType(type.c_str())) != &factory) {
          ++failures;
        }
        const TTrace trace((type + "(x)").c_str());
        if (factory.calls != 1) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(outputs, kThreads / 2 * (kRounds / 10));
}
