// tests/tavrc_test.cpp: the resource compiler: its catalogue reader and the program itself.
// Licensed under the Apache License, Version 2.0.
#include "catalogue.h"
#include "helpers/test_text.h"
#include "run_program.h"
#include "temp_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using tavutil::tavrc::Catalogue;
using tavutil::tavrc::ReadCatalogue;

/// Reads `text` as the catalogue "cat.rc", whose includes come from `files`.
Catalogue Read(const std::string& text, const std::map<std::string, std::string>& files = {},
               const std::vector<std::pair<std::string, std::string>>& defines = {}) {
  return ReadCatalogue(
      "cat.rc", text, defines,
      [&](const std::string& name, const std::string&, std::string& path, std::string& contents) {
        const auto file = files.find(name);
        if (file == files.end()) {
          return false;
        }
        path = name;
        contents = file->second;
        return true;
      });
}

/// The diagnostics as "file:line: error|warning: text" lines.
std::string Diagnostics(const Catalogue& c) {
  std::string out;
  for (const auto& d : c.diagnostics) {
    out += d.file + ":" + std::to_string(d.line) + (d.error ? ": error: " : ": warning: ") +
           d.text + "\n";
  }
  return out;
}

/// Id and text of every string, as "id=text" with the text as UTF-16 units turned to UTF-8
/// for readable failures (units beyond ASCII written as \u{XXXX}).
std::string Strings(const Catalogue& c) {
  std::string out;
  for (const auto& s : c.strings) {
    out += std::to_string(s.id) + "=";
    for (const char16_t unit : s.text) {
      if (unit >= 0x20 && unit < 0x7F) {
        out += static_cast<char>(unit);
      } else {
        char code[16];
        std::snprintf(code, sizeof code, "\\u{%X}", static_cast<unsigned>(unit));
        out += code;
      }
    }
    out += ";";
  }
  return out;
}

TEST(Tavrc, ReadsTheStringTableFormOfResourceScripts) {
  const std::map<std::string, std::string> files = {
      // A C header contributes its directives only; its code is passed over, strings and
      // comments included, so neither can fake a directive.
      {"ids.h", "#ifndef IDS_H\n#define IDS_H\n#define IDS_BASE 0x100\n"
                "#define IDS_NEXT (IDS_BASE + 1) // comment\n"
                "const char* s = \"/*\"; int f(); /* a\n#define IDS_NEXT 9\n */\n"
                "#define FUNCTION(x) x\n#endif\n"},
      {"more.rc", "STRINGTABLE { 7 \"from an included script\" }\n"}};
  const Catalogue c =
      Read("\xEF\xBB\xBF// header\n"
           "#include \"ids.h\"\n"
           "#include \"ids.h\"\n" // guarded: nothing twice
           "#pragma code_page(65001)\n"
           "LANGUAGE LANG_GERMAN, SUBLANG_GERMAN\n"
           "stringtable discardable language 7, 1 version 2\n"
           "begin\n"
           "  IDS_NEXT, \"next\"\n"
           "  IDS_BASE \"base \"\"quoted\"\" \\\"too\\\"\"\n"
           "  2 + 3 * 4 - (10 >> 1) | 0, L\"esc \\t\\n\\\\ \\x41\\101\\0z\"\n"
           "  /* a comment\n   over lines */ 3, \"\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80\"\n"
           "#if defined(EXTRA) && EXTRA > 1\n"
           "  4, \"extra\"\n"
           "#elif !defined IDS_H\n"
           "  4, \"no header\"\n"
           "#else\n"
           "  4, \"else\"\n"
           "#endif\n"
           "#ifdef RC_INVOKED\n  5, \"rc\"\n#endif\n"
           "  65535, \"last\"\n"
           "  0, \"zero\"\n"
           "end\n"
           "#include \"more.rc\"\n",
           files, {{"EXTRA", "2"}});
  EXPECT_EQ(Diagnostics(c), "");
  EXPECT_EQ(Strings(c), "0=zero;3=\\u{E9}t\\u{E9} \\u{D83D}\\u{DE00};4=extra;5=rc;7=from an "
                        "included script;9=esc \\u{9}\\u{A}\\ AA\\u{0}z;256=base \"quoted\" "
                        "\"too\";257=next;65535=last;");
  EXPECT_EQ(c.files, (std::vector<std::string>{"cat.rc", "ids.h", "ids.h", "more.rc"}));
  // Without EXTRA the #elif is false (the header is there), so #else is taken.
  EXPECT_EQ(Strings(Read("#define IDS_H\nSTRINGTABLE BEGIN\n#if EXTRA\n1 \"a\"\n#elif !defined "
                         "IDS_H\n1 \"b\"\n#else\n1 \"c\"\n#endif\nEND\n")),
            "1=c;");
}

// Each fault is reported with the file and line where it is, and reading goes on after it.
TEST(Tavrc, ReportsEachFaultWithItsLine) {
  const struct {
    const char* text;
    const char* diagnostics;
  } cases[] = {
      {"STRINGTABLE\nBEGIN\n 1, \"open\n 2, \"fine\"\nEND\n",
       "cat.rc:3: error: unterminated string\n"},
      {"STRINGTABLE\nBEGIN\n 1, \"a\"\n\n 1, \"b\"\nEND\n",
       "cat.rc:5: error: duplicate id 1 (first at cat.rc:3)\n"},
      {"STRINGTABLE BEGIN\n 65536, \"a\"\n -1, \"b\"\nEND\n",
       "cat.rc:2: error: id 65536 out of range (0 to 65535)\n"
       "cat.rc:3: error: id -1 out of range (0 to 65535)\n"},
      {"STRINGTABLE BEGIN\n 1, \"ok\"\n 2, \"bad \xC3\x28\"\nEND\n",
       "cat.rc:3: error: invalid UTF-8\n"},
      {"STRINGTABLE BEGIN\n 1, \"\xED\xA0\x80\"\nEND\n", "cat.rc:2: error: invalid UTF-8\n"},
      {"STRINGTABLE BEGIN\n 1, \"\xC0\xAF\"\nEND\n", "cat.rc:2: error: invalid UTF-8\n"},
      {"STRINGTABLE BEGIN\n IDS_X, \"a\"\n 2, \"b\"\nEND\n",
       "cat.rc:2: error: unknown name IDS_X\n"},
      {"STRINGTABLE BEGIN\n 1 \"a\\q\"\nEND\n", "cat.rc:2: error: unknown escape sequence \\'q'\n"},
      {"STRINGTABLE BEGIN\n 1 \"a\"\n 2\nEND\n",
       "cat.rc:3: error: expected a string after id 2 but found name END\n"},
      {"STRINGTABLE BEGIN\n 1 \"a\"\n", "cat.rc:1: error: STRINGTABLE without END\n"},
      {"#ifdef X\n", "cat.rc:1: error: #if without #endif\n"},
      {"#endif\n#else\n",
       "cat.rc:1: error: #endif without #if\ncat.rc:2: error: #else without #if\n"},
      {"/* open\n\n", "cat.rc:1: error: unterminated comment\n"},
      {"#include \"missing.h\"\n", "cat.rc:1: error: cannot open include file missing.h\n"},
      {"#include \"self.rc\"\n", "self.rc:1: error: #include nested more than 16 deep\n"},
      {"STRINGTABLE BEGIN\n 08 \"a\"\n 1/0 \"c\"\nEND\n",
       "cat.rc:2: error: bad number 08\ncat.rc:3: error: division by zero\n"},
      {"STRINGTABLE BEGIN\n 99999999999999999999 \"b\"\nEND\n",
       "cat.rc:2: error: number 99999999999999999999 is too large\n"},
      {"#define A B\n#define B A\nSTRINGTABLE BEGIN\n A \"a\"\nEND\n",
       "cat.rc:4: error: unknown name A\n"},
      {"DIALOG 1\nSTRINGTABLE BEGIN 1 \"a\" END\n@\n",
       "cat.rc:1: error: expected STRINGTABLE but found name DIALOG\n"
       "cat.rc:3: error: unexpected character '@'\n"},
      {"#warning x\n#error stop here\n",
       "cat.rc:1: error: unknown directive #warning\ncat.rc:2: error: #error stop here\n"},
  };
  const std::map<std::string, std::string> files = {{"self.rc", "#include \"self.rc\"\n"}};
  for (const auto& c : cases) {
    const Catalogue catalogue = Read(c.text, files);
    EXPECT_EQ(Diagnostics(catalogue), c.diagnostics) << c.text;
    EXPECT_FALSE(catalogue.Succeeded()) << c.text;
  }
}

TEST(Tavrc, WarnsOfTextsThatDoNotReadWhole) {
  const std::string longest(256, 'x');
  const std::string tooLong(257, 'y');
  const Catalogue c =
      Read("STRINGTABLE BEGIN\n1 \"" + longest + "\"\n2 \"" + tooLong + "\"\n3 \"\"\nEND\n");
  EXPECT_TRUE(c.Succeeded());
  EXPECT_EQ(Diagnostics(c), "cat.rc:3: warning: id 2 has 257 UTF-16 units; it reads cut to 256 "
                            "(255 when a surrogate pair straddles the cut)\n"
                            "cat.rc:4: warning: id 3 has an empty text, which reads as a missing "
                            "message\n");
  ASSERT_EQ(c.strings.size(), 3u);
  EXPECT_EQ(c.strings[1].text.size(), 257u); // kept whole: a longer buffer reads it all
}

TEST(Tavrc, StopsAfterFiftyErrorsAndSurvivesDeepNesting) {
  const Catalogue many = Read(std::string(1000, '@'));
  EXPECT_EQ(many.diagnostics.size(), 51u);
  EXPECT_EQ(many.diagnostics.back().text, "too many errors; stopping");
  const Catalogue deep = Read("STRINGTABLE BEGIN\n" + std::string(100000, '(') + "1 \"a\"\nEND\n");
  EXPECT_EQ(deep.diagnostics.at(0).text, "expression nested too deeply");
  // Each macro doubles the one before: 2^40 tokens, were they all produced.
  std::string doubling = "#define A40 1\n";
  for (int i = 39; i >= 0; --i) {
    doubling += "#define A" + std::to_string(i) + " A" + std::to_string(i + 1) + " + A" +
                std::to_string(i + 1) + "\n";
  }
  const Catalogue huge = Read(doubling + "STRINGTABLE BEGIN\nA0 \"a\"\nEND\n");
  EXPECT_EQ(Diagnostics(huge),
            "cat.rc:43: error: macro expansion gives more than a million tokens\n");
  // Files that include each other twice over would be read 2^16 times: files are counted.
  std::string includes;
  for (int i = 0; i < 300; ++i) {
    includes += "#include \"empty.h\"\n";
  }
  EXPECT_EQ(Diagnostics(Read(includes, {{"empty.h", ""}})),
            "cat.rc:256: error: more than 256 files included\n");
  // Expansion is counted in bytes: a 1 MB string used 40 times would make 80 MB of text.
  std::string uses = "#define BIG \"" + std::string(1000000, 'x') + "\"\nSTRINGTABLE BEGIN\n";
  for (int i = 1; i <= 40; ++i) {
    uses += std::to_string(i) + " BIG\n";
  }
  const Catalogue big = Read(uses + "END\n");
  ASSERT_FALSE(big.diagnostics.empty());
  EXPECT_EQ(big.diagnostics.back().text, "macro expansion gives more than 32 MiB");
  EXPECT_EQ(big.diagnostics.back().line, 19u) << "the 17th use passes 32 MiB";
}

/// A scratch directory for the program's files, removed with everything in it.
class TavrcProgram : public ::testing::Test {
protected:
  void SetUp() override {
    fDirectory = MakeTempDirectory("tavrc_test");
    ASSERT_FALSE(fDirectory.empty());
  }
  void TearDown() override { std::filesystem::remove_all(fDirectory); }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(fDirectory + "/" + name, std::ios::binary) << text;
    return fDirectory + "/" + name;
  }
  /// The program's exit status and what it wrote, as "<status>: <output>".
  static std::string Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), TAVRC_PROGRAM);
    const ProgramResult run = RunProgram(arguments);
    return std::to_string(run.status) + ": " + run.output;
  }
  /// The names in the directory.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fDirectory)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  std::string fDirectory;
};

TEST_F(TavrcProgram, WritesTheTableOrReportsAndLeavesTheOutputAlone) {
  Write("ids.h", "#define GREETING 4\n");
  const std::string good = Write("good.rc", "#include \"ids.h\"\nSTRINGTABLE BEGIN\n"
                                            "GREETING \"hi\"\n5 \"\"\nEND\n");
  const std::string table = fDirectory + "/table.cpp";
  const std::string depfile = fDirectory + "/table.d";
  EXPECT_EQ(Run({"-o", table, "--depfile", depfile, good}),
            "0: " + good +
                ":4: warning: id 5 has an empty text, which reads as a missing message\n");
  const std::string source = FileContents(table);
  EXPECT_NE(source.find("const TavutilStringTable tavutil_string_table = {0x52564154, 1, 2, "),
            std::string::npos);
  EXPECT_EQ(FileContents(depfile), table + ": " + good + " " + fDirectory + "/ids.h\n");

  // A failed build touches no output, whatever it is, and leaves no file of its own.
  const std::string bad = Write("bad.rc", "STRINGTABLE BEGIN\n1 \"a\"\n1 \"b\"\nEND\n");
  const std::string unrelated = Write("keep.txt", "keep");
  for (const std::string& output : {table, unrelated}) {
    EXPECT_EQ(Run({"-w", "-o", output, bad}),
              "1: " + bad + ":3: error: duplicate id 1 (first at " + bad + ":2)\n");
  }
  EXPECT_EQ(FileContents(table), source);
  EXPECT_EQ(FileContents(unrelated), "keep");
  // An output that is not a regular file is never replaced.
  std::vector<std::string> outputs = {fDirectory + "/folder"};
  std::filesystem::create_directory(outputs[0]);
  if (MakeFifo(fDirectory + "/fifo")) {
    outputs.push_back(fDirectory + "/fifo");
  }
  for (const std::string& output : outputs) {
    EXPECT_EQ(Run({"-w", "-o", output, good}),
              "1: " + output + ": error: cannot write the table source: not a regular file\n");
    EXPECT_FALSE(std::filesystem::is_regular_file(output));
  }
  std::set<std::string> expected = {"bad.rc",   "folder",    "good.rc", "ids.h",
                                    "keep.txt", "table.cpp", "table.d"};
  if (outputs.size() > 1) {
    expected.insert("fifo");
  }
  EXPECT_EQ(Names(), expected);
  EXPECT_EQ(Run({"-x", bad}).substr(0, 3), "2: ");
}

TEST_F(TavrcProgram, RefusesWhatIsNotARegularFileAndBoundsWhatItReads) {
  std::vector<std::pair<std::string, std::string>> special = {{"a directory", fDirectory},
                                                              {"a device", kDeviceName}};
  if (MakeFifo(fDirectory + "/fifo")) {
    special.emplace_back("a FIFO", fDirectory + "/fifo");
  }
  const std::string table = fDirectory + "/table.cpp";
  for (const auto& [what, path] : special) {
    SCOPED_TRACE(what);
    EXPECT_EQ(Run({"-o", table, path}),
              "1: " + path + ": error: cannot read the catalogue: not a regular file\n");
    const std::string including = Write("including.rc", "#include \"" + path + "\"\n");
    EXPECT_EQ(Run({"-o", table, including}), "1: " + including +
                                                 ":1: error: cannot read include file " + path +
                                                 ": not a regular file\n");
  }
  EXPECT_FALSE(std::filesystem::exists(table));

  // Each file is read up to 8 MiB, all of them together up to 32 MiB.
  Write("big.h", std::string(8 * 1024 * 1024 + 1, ' '));
  const std::string big = Write("big.rc", "#include \"big.h\"\n");
  EXPECT_EQ(Run({big}),
            "1: " + big + ":1: error: cannot read include file big.h: larger than 8 MiB\n");
  Write("seven.h", std::string(7 * 1024 * 1024, ' '));
  std::string includes;
  for (int i = 0; i < 5; ++i) {
    includes += "#include \"seven.h\"\n";
  }
  const std::string many = Write("many.rc", includes);
  EXPECT_EQ(Run({many}), "1: " + many +
                             ":5: error: cannot read include file seven.h: the files "
                             "read exceed 32 MiB together\n");

  // Memory that runs out is reported, not an abort: a 7 MiB text needs far more than 48 MiB.
  const std::string huge =
      Write("huge.rc", "STRINGTABLE BEGIN\n1 \"" + std::string(7 * 1024 * 1024, 'x') + "\"\nEND\n");
  const std::vector<std::string> limited = WithMemoryLimit({TAVRC_PROGRAM, "-w", huge}, 48);
  if (limited.empty()) {
    GTEST_SKIP() << "no memory limit for a program here";
  }
  const ProgramResult run = RunProgram(limited);
  if (run.output.find("Sanitizer") != std::string::npos) {
    GTEST_SKIP() << "a sanitizer cannot start under a memory limit: " << run.output;
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "tavrc: error: out of memory\n");
}

} // namespace
