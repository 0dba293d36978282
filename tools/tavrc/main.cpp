// tools/tavrc/main.cpp: tavrc, the resource compiler: a message catalogue in, the C++ source of
// its language resource library out.
// Licensed under the Apache License, Version 2.0.
//
//   tavrc [-w] [-I dir]... [-D name[=value]]... [-o table.cpp] [--depfile table.d] catalogue.rc
//
// Diagnostics go to standard error as "file:line: error: reason" (or "warning:"). Exit status:
// 0 when the source was written (warnings allowed), 1 for errors in the catalogue or a file
// that cannot be read or written, 2 for a bad command line.
#include "catalogue.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using tavutil::tavrc::Catalogue;
using tavutil::tavrc::Diagnostic;

constexpr char kUsage[] =
    "usage: tavrc [-w] [-I dir]... [-D name[=value]]... [-o table.cpp] [--depfile table.d] "
    "catalogue.rc\n"
    "Reads a message catalogue (UTF-8 STRINGTABLE blocks) and writes the C++ source of its\n"
    "language resource library; without -o it only checks the catalogue. -w: no warnings.\n";

struct Options {
  std::string catalogue;
  std::string output;
  std::string depfile;
  std::vector<std::string> includeDirectories;
  std::vector<std::pair<std::string, std::string>> defines;
  bool warnings = true;
};

bool ReadFile(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  contents = text.str();
  return !in.bad();
}

/// Writes `contents` to `path` whole, or removes what it wrote.
bool WriteFile(const std::string& path, const std::string& contents) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out && out.write(contents.data(), static_cast<std::streamsize>(contents.size())) &&
        out.flush()) {
      return true;
    }
  }
  std::remove(path.c_str());
  return false;
}

/// The directory part of `path` with its separator ("" for a bare name).
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

/// "A name" for make: spaces and '$' escaped.
std::string MakeEscaped(const std::string& path) {
  std::string out;
  for (const char c : path) {
    if (c == ' ' || c == '#') {
      out += '\\';
    } else if (c == '$') {
      out += '$';
    }
    out += c;
  }
  return out;
}

/// Parses the command line; false (after printing why) when it is not usable.
bool ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&](const char* option) -> const char* {
      if (argument.size() > 2 && argument[1] != '-') { // -Idir, -DNAME
        return argv[i] + 2;
      }
      if (i + 1 >= argc) {
        std::cerr << "tavrc: " << option << " needs a value\n";
        return nullptr;
      }
      return argv[++i];
    };
    if (argument == "-w") {
      options.warnings = false;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (argument.rfind("-I", 0) == 0 || argument.rfind("-D", 0) == 0 || argument == "-o" ||
        argument == "--depfile") {
      const char* text = value(argument.substr(0, 2).c_str());
      if (text == nullptr) {
        return false;
      }
      if (argument.rfind("-I", 0) == 0) {
        std::string directory = text;
        if (!directory.empty() && directory.back() != '/' && directory.back() != '\\') {
          directory += '/';
        }
        options.includeDirectories.push_back(directory);
      } else if (argument.rfind("-D", 0) == 0) {
        const std::string definition = text;
        const std::size_t equals = definition.find('=');
        options.defines.emplace_back(definition.substr(0, equals),
                                     equals == std::string::npos ? "1"
                                                                 : definition.substr(equals + 1));
      } else if (argument == "-o") {
        options.output = text;
      } else {
        options.depfile = text;
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      std::cerr << "tavrc: unknown option " << argument << '\n' << kUsage;
      return false;
    } else if (!options.catalogue.empty()) {
      std::cerr << "tavrc: one catalogue at a time\n" << kUsage;
      return false;
    } else {
      options.catalogue = argument;
    }
  }
  if (options.catalogue.empty()) {
    std::cerr << kUsage;
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    return 2;
  }
  std::string text;
  if (!ReadFile(options.catalogue, text)) {
    std::cerr << options.catalogue << ": error: cannot read the catalogue\n";
    return 1;
  }
  // An include is looked for beside the file that includes it, then in each -I directory.
  const auto reader = [&](const std::string& name, const std::string& includer, std::string& path,
                          std::string& contents) {
    std::vector<std::string> candidates{DirectoryOf(includer) + name};
    for (const std::string& directory : options.includeDirectories) {
      candidates.push_back(directory + name);
    }
    for (const std::string& candidate : candidates) {
      if (ReadFile(candidate, contents)) {
        path = candidate;
        return true;
      }
    }
    return false;
  };
  const Catalogue catalogue =
      tavutil::tavrc::ReadCatalogue(options.catalogue, text, options.defines, reader);
  for (const Diagnostic& d : catalogue.diagnostics) {
    if (!d.error && !options.warnings) {
      continue;
    }
    std::cerr << d.file << ':' << d.line << ": " << (d.error ? "error: " : "warning: ") << d.text
              << '\n';
  }
  if (!catalogue.Succeeded()) {
    if (!options.output.empty()) {
      std::remove(options.output.c_str()); // no stale table survives a failed build
    }
    return 1;
  }
  if (!options.output.empty() &&
      !WriteFile(options.output,
                 tavutil::tavrc::GenerateTableSource(catalogue.strings, options.catalogue))) {
    std::cerr << options.output << ": error: cannot write the table source\n";
    return 1;
  }
  if (!options.depfile.empty()) {
    std::string rule =
        MakeEscaped(options.output.empty() ? options.catalogue : options.output) + ":";
    for (const std::string& file : catalogue.files) {
      rule += " " + MakeEscaped(file);
    }
    if (!WriteFile(options.depfile, rule + "\n")) {
      std::cerr << options.depfile << ": error: cannot write the dependency file\n";
      return 1;
    }
  }
  return 0;
}
