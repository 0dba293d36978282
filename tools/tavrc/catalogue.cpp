// tools/tavrc/catalogue.cpp: reads message catalogues and generates their string tables.
// Licensed under the Apache License, Version 2.0.
//
// The grammar of STRINGTABLE blocks over the preprocessor's tokens (preprocessor.h, which
// reads through lexer.h and evaluates through evaluator.h), and the generated table source.
#include "catalogue.h"

#include "evaluator.h"
#include "lexer.h"
#include "platform/stringtable.h"
#include "preprocessor.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>

namespace tavutil::tavrc {

bool Catalogue::Succeeded() const noexcept {
  return std::none_of(diagnostics.begin(), diagnostics.end(),
                      [](const Diagnostic& diagnostic) { return diagnostic.error; });
}

namespace {

// ---------------------------------------------------------------- grammar ----

/// The grammar of a catalogue: STRINGTABLE blocks and LANGUAGE statements.
class Parser {
public:
  Parser(Preprocessor& in, Reporter& reporter, Catalogue& out)
      : fIn(in), fReporter(reporter), fEvaluator(reporter), fOut(out) {}

  void Run() {
    while (fIn.Peek().kind != Kind::end && !fReporter.Stopped()) {
      const Token next = fIn.Peek();
      if (IsKeyword(next, "STRINGTABLE")) {
        StringTable();
      } else if (IsKeyword(next, "LANGUAGE")) {
        fIn.Take();
        Options(next, 2);
      } else {
        fReporter.Error(next, "expected STRINGTABLE but found " + Describe(next));
        SkipLine(next);
      }
    }
    std::sort(fOut.strings.begin(), fOut.strings.end(),
              [](const StringEntry& left, const StringEntry& right) { return left.id < right.id; });
  }

private:
  /// Skips what is left of the line of `from` (after an error).
  void SkipLine(const Token& from) {
    while (fIn.Peek().kind != Kind::end && SameLine(fIn.Peek(), from)) {
      fIn.Take();
    }
  }

  /// The `count` comma-separated values of LANGUAGE, CHARACTERISTICS or VERSION. They do not
  /// matter here (the language comes from the directory), so unknown names count as 0.
  void Options(const Token& keyword, int count) {
    for (int i = 0; i < count; ++i) {
      if (i > 0) {
        if (!IsPunctuator(fIn.Peek(), ",")) {
          fReporter.Error(fIn.Peek(), "expected ',' after " + keyword.text);
          SkipLine(keyword);
          return;
        }
        fIn.Take();
      }
      if (!fEvaluator.Evaluate(fIn, Names::zero)) {
        SkipLine(keyword);
        return;
      }
    }
  }

  /// STRINGTABLE [flags and options] BEGIN entries END.
  void StringTable() {
    const Token table = fIn.Take();
    SkipTableOptions();
    const Token open = fIn.Take();
    if (!IsKeyword(open, "BEGIN") && !IsPunctuator(open, "{")) {
      fReporter.Error(open, "expected BEGIN after STRINGTABLE but found " + Describe(open));
      SkipLine(open);
      return;
    }
    for (;;) {
      const Token next = fIn.Peek();
      if (next.kind == Kind::end || fReporter.Stopped()) {
        fReporter.Error(table, "STRINGTABLE without END");
        return;
      }
      if (IsKeyword(next, "END") || IsPunctuator(next, "}")) {
        fIn.Take();
        return;
      }
      Entry(next);
    }
  }

  /// The memory flags and the LANGUAGE, CHARACTERISTICS and VERSION options of a table, which
  /// change nothing here.
  void SkipTableOptions() {
    static const char* const kMemoryFlags[] = {"DISCARDABLE", "MOVEABLE", "FIXED",
                                               "PURE",        "IMPURE",   "PRELOAD",
                                               "LOADONCALL",  "SHARED",   "NONSHARED"};
    for (;;) {
      const Token next = fIn.Peek();
      if (std::any_of(std::begin(kMemoryFlags), std::end(kMemoryFlags),
                      [&](const char* flag) { return IsKeyword(next, flag); })) {
        fIn.Take();
      } else if (IsKeyword(next, "LANGUAGE") || IsKeyword(next, "CHARACTERISTICS") ||
                 IsKeyword(next, "VERSION")) {
        fIn.Take();
        Options(next, IsKeyword(next, "LANGUAGE") ? 2 : 1);
      } else {
        return;
      }
    }
  }

  /// `id [,] "text"`.
  void Entry(const Token& first) {
    const std::optional<std::int64_t> id = fEvaluator.Evaluate(fIn, Names::strict);
    if (!id) {
      SkipLine(first);
      return;
    }
    if (IsPunctuator(fIn.Peek(), ",")) {
      fIn.Take();
    }
    if (fIn.Peek().kind != Kind::string) {
      fReporter.Error(first, "expected a string after id " + std::to_string(*id) + " but found " +
                                 Describe(fIn.Peek()));
      SkipLine(first);
      return;
    }
    const Token text = fIn.Take();
    if (*id < 0 || *id > static_cast<std::int64_t>(kMaxId)) {
      fReporter.Error(first, "id " + std::to_string(*id) + " out of range (0 to 65535)");
      return;
    }
    const auto number = static_cast<std::uint32_t>(*id);
    const auto seen = fSeen.find(number);
    if (seen != fSeen.end()) {
      fReporter.Error(first, "duplicate id " + std::to_string(number) + " (first at " +
                                 seen->second.first + ":" + std::to_string(seen->second.second) +
                                 ")");
      return;
    }
    fSeen.emplace(number, std::make_pair(*first.file, first.line));
    WarnAboutLength(first, number, text.string);
    fOut.strings.push_back(StringEntry{number, text.string, *first.file, first.line});
  }

  /// Warns about a text that reads back as missing (empty) or cut (too long).
  void WarnAboutLength(const Token& first, std::uint32_t number, const std::u16string& text) {
    if (text.empty()) {
      fReporter.Warning(first, "id " + std::to_string(number) +
                                   " has an empty text, which reads as a missing message");
    } else if (text.size() > kMaxReadUnits) {
      fReporter.Warning(first, "id " + std::to_string(number) + " has " +
                                   std::to_string(text.size()) +
                                   " UTF-16 units; it reads cut to 256 (255 when a surrogate " +
                                   "pair straddles the cut)");
    }
  }

  Preprocessor& fIn;
  Reporter& fReporter;
  Evaluator fEvaluator;
  Catalogue& fOut;
  std::map<std::uint32_t, std::pair<std::string, unsigned>> fSeen;
};

/// `value` as a C++ integer literal list: "1, 2, 3" with line breaks every 12 values.
template <class Values> std::string List(const Values& values) {
  std::string out;
  std::size_t count = 0;
  char number[16];
  for (const auto value : values) {
    std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(value));
    out += (count == 0 ? "\n    " : count % 12 == 0 ? ",\n    " : ", ");
    out += number;
    ++count;
  }
  return count == 0 ? " 0" : out; // an empty array is not C++: one unused element
}

} // namespace

Catalogue ReadCatalogue(const std::string& path, const std::string& text,
                        const std::vector<std::pair<std::string, std::string>>& defines,
                        const IncludeReader& reader) {
  Catalogue catalogue;
  Reporter reporter(catalogue.diagnostics);
  Preprocessor in(catalogue, reporter, reader);
  // Names a catalogue may test to hide what only a Windows resource compiler understands.
  in.Define("RC_INVOKED", "1");
  in.Define("TAVRC", "1");
  for (const auto& [name, value] : defines) {
    in.Define(name, value);
  }
  in.Open(path, text, false, Token{});
  Parser(in, reporter, catalogue).Run();
  return catalogue;
}

std::string GenerateTableSource(const std::vector<StringEntry>& strings,
                                const std::string& origin) {
  std::vector<std::uint32_t> ids;
  std::vector<std::uint32_t> offsets{0};
  std::vector<char16_t> units;
  for (const StringEntry& entry : strings) {
    ids.push_back(entry.id);
    units.insert(units.end(), entry.text.begin(), entry.text.end());
    offsets.push_back(static_cast<std::uint32_t>(units.size()));
  }
  char header[64];
  std::snprintf(header, sizeof header, "0x%X, %u, %u", platform::kStringTableMagic,
                platform::kStringTableVersion, static_cast<unsigned>(ids.size()));
  std::string out;
  out += "// Generated by tavrc from " + origin + "; do not edit.\n";
  out += "// The string table of a language resource library.\n";
  out += "#include <cstdint>\n\n";
  out += "#if defined(_WIN32)\n#define TAVRC_EXPORT __declspec(dllexport)\n";
  out += "#else\n#define TAVRC_EXPORT __attribute__((visibility(\"default\")))\n#endif\n\n";
  out += "namespace {\nconst std::uint32_t kIds[] = {" + List(ids) + "};\n";
  out += "const std::uint32_t kOffsets[] = {" + List(offsets) + "};\n";
  out += "const char16_t kUnits[] = {" + List(units) + "};\n} // namespace\n\n";
  out += "extern \"C\" {\n";
  out += "struct TavutilStringTable {\n  std::uint32_t magic;\n  std::uint32_t version;\n";
  out += "  std::uint32_t count;\n  const std::uint32_t* ids;\n  const std::uint32_t* offsets;\n";
  out += "  const char16_t* units;\n};\n";
  out += std::string("TAVRC_EXPORT extern const TavutilStringTable ") +
         platform::kStringTableSymbol + ";\n";
  out += std::string("const TavutilStringTable ") + platform::kStringTableSymbol + " = {" + header +
         ", kIds, kOffsets, kUnits};\n}\n";
  return out;
}

} // namespace tavutil::tavrc
