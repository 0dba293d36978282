// tools/tavrc/main.cpp: tavrc, the resource compiler: a message catalogue in, the C++ source of
// its language resource library out.
// Licensed under the Apache License, Version 2.0.
//
//   tavrc [-w] [-I dir]... [-D name[=value]]... [-o table.cpp] [--depfile table.d] catalogue.rc
//
// Diagnostics go to standard error as "file:line: error: reason" (or "warning:"). Exit status:
// 0 when the source was written (warnings allowed), 1 for errors in the catalogue, a file that
// cannot be read or written, or memory that runs out, 2 for a bad command line.
//
// The names given (the catalogue, its includes, -o, --depfile) may lead anywhere: files are
// read by the platform's rules for files given by name (no waiting on a FIFO, regular files
// only), at most 8 MiB each and 32 MiB together; an output is written to a new file beside it
// and renamed over it only when whole, and only over a regular file. A failed build leaves
// every output as it was.
#include "catalogue.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
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
    "language resource library; without -o it only checks the catalogue. -w: no warnings.\n"
    "Files read must be regular files of at most 8 MiB, 32 MiB together; macro expansion may\n"
    "copy at most 32 MiB. Outputs are replaced only when the build succeeds.\n";

struct Options {
  std::string catalogue;
  std::string output;
  std::string depfile;
  std::vector<std::string> includeDirectories;
  std::vector<std::pair<std::string, std::string>> defines;
  bool warnings = true;
};

/// Why a file given by name could not be used, for a diagnostic.
std::string RefusalReason(tavutil::platform::NamedFileResult result, int error) {
  using tavutil::platform::NamedFileResult;
  switch (result) {
  case NamedFileResult::isLink:
    return "a symbolic link that is not followed";
  case NamedFileResult::notRegular:
    return "not a regular file";
  case NamedFileResult::tooLarge:
    return "larger than 8 MiB";
  default:
    break;
  }
  char text[256];
  return tavutil::platform::ErrorText(error, text, sizeof text);
}

/// Reads the files of one catalogue, each at most kMaxFileBytes and all together at most
/// kMaxTotalBytes.
class FileReader {
public:
  /// Reads `path` into `contents`: `opened`, or why not (`missing` when there is no such file),
  /// with the system's error code in `error`. Throws std::bad_alloc when memory runs out.
  tavutil::platform::NamedFileResult Read(const std::string& path, std::string& contents,
                                          int& error) {
    const std::size_t left = tavutil::tavrc::kMaxTotalBytes - fTotal;
    const std::size_t limit = std::min(tavutil::tavrc::kMaxFileBytes, left);
    const tavutil::platform::NamedFileResult result =
        tavutil::platform::ReadNamedFile(path.c_str(), limit, contents, error);
    if (result == tavutil::platform::NamedFileResult::opened) {
      fTotal += contents.size();
    }
    fTotalReached = result == tavutil::platform::NamedFileResult::tooLarge &&
                    limit < tavutil::tavrc::kMaxFileBytes;
    return result;
  }
  /// The reason of the last refusal.
  std::string Reason(tavutil::platform::NamedFileResult result, int error) const {
    return fTotalReached ? "the files read exceed 32 MiB together" : RefusalReason(result, error);
  }

private:
  std::size_t fTotal = 0;
  bool fTotalReached = false;
};

/// Writes `contents` to `path` whole, through a new file renamed over it; false (after saying
/// why on standard error, with `what` naming the output) when it cannot. Throws std::bad_alloc when
/// memory runs out.
bool WriteFile(const std::string& path, const std::string& contents, const char* what) {
  int error = 0;
  const tavutil::platform::NamedFileResult result =
      tavutil::platform::ReplaceWholeFile(path.c_str(), contents.data(), contents.size(), error);
  if (result == tavutil::platform::NamedFileResult::opened) {
    return true;
  }
  std::cerr << path << ": error: cannot write " << what << ": " << RefusalReason(result, error)
            << '\n';
  return false;
}

/// Whether `name` is an absolute path: it names its file by itself.
bool IsAbsolute(const std::string& name) {
  return (!name.empty() && (name[0] == '/' || name[0] == '\\')) ||
         (name.size() > 2 && name[1] == ':' && (name[2] == '/' || name[2] == '\\'));
}

/// The directory part of `path` with its separator ("" for a bare name).
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

/// "A name" for make: spaces and '$' escaped.
std::string MakeEscaped(const std::string& path) {
  std::string out;
  for (const char byte : path) {
    if (byte == ' ' || byte == '#') {
      out += '\\';
    } else if (byte == '$') {
      out += '$';
    }
    out += byte;
  }
  return out;
}

/// Takes the value `text` of the option `argument` (-I, -D, -o or --depfile) into `options`.
void TakeOptionValue(const std::string& argument, const char* text, Options& options) {
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
                                 equals == std::string::npos ? "1" : definition.substr(equals + 1));
  } else if (argument == "-o") {
    options.output = text;
  } else {
    options.depfile = text;
  }
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
      TakeOptionValue(argument, text, options);
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

/// The include reader of a build: an include is looked for beside the file that includes it,
/// then in each -I directory; an absolute name only where it says. A file that is there but
/// cannot be used stops the search. `options` and `files` must outlive it.
tavutil::tavrc::IncludeReader MakeIncludeReader(const Options& options, FileReader& files) {
  return [&options, &files](const std::string& name, const std::string& includer, std::string& path,
                            std::string& contents) {
    std::vector<std::string> candidates;
    if (IsAbsolute(name)) {
      candidates.push_back(name);
    } else {
      candidates.push_back(DirectoryOf(includer) + name);
      for (const std::string& directory : options.includeDirectories) {
        candidates.push_back(directory + name);
      }
    }
    for (const std::string& candidate : candidates) {
      int error = 0;
      const tavutil::platform::NamedFileResult result = files.Read(candidate, contents, error);
      if (result == tavutil::platform::NamedFileResult::opened) {
        path = candidate;
        return true;
      }
      if (result != tavutil::platform::NamedFileResult::missing) {
        throw tavutil::tavrc::IncludeError(files.Reason(result, error));
      }
    }
    return false;
  };
}

/// Prints the diagnostics as "file:line: error: text", the warnings only when asked for.
void PrintDiagnostics(const Catalogue& catalogue, bool warnings) {
  for (const Diagnostic& diagnostic : catalogue.diagnostics) {
    if (!diagnostic.error && !warnings) {
      continue;
    }
    std::cerr << diagnostic.file << ':' << diagnostic.line << ": "
              << (diagnostic.error ? "error: " : "warning: ") << diagnostic.text << '\n';
  }
}

/// Writes the table source and the dependency file that were asked for; false when one could
/// not be written (said on standard error). Throws std::bad_alloc when memory runs out.
bool WriteOutputs(const Options& options, const Catalogue& catalogue) {
  if (!options.output.empty() &&
      !WriteFile(options.output,
                 tavutil::tavrc::GenerateTableSource(catalogue.strings, options.catalogue),
                 "the table source")) {
    return false;
  }
  if (!options.depfile.empty()) {
    std::string rule =
        MakeEscaped(options.output.empty() ? options.catalogue : options.output) + ":";
    for (const std::string& file : catalogue.files) {
      rule += " " + MakeEscaped(file);
    }
    if (!WriteFile(options.depfile, rule + "\n", "the dependency file")) {
      return false;
    }
  }
  return true;
}

/// Everything but the command line: reads, checks and writes. Gives the exit status. Throws
/// std::bad_alloc and whatever else escapes the standard library.
int Build(const Options& options) {
  FileReader files;
  std::string text;
  int error = 0;
  const tavutil::platform::NamedFileResult result = files.Read(options.catalogue, text, error);
  if (result != tavutil::platform::NamedFileResult::opened) {
    std::cerr << options.catalogue
              << ": error: cannot read the catalogue: " << files.Reason(result, error) << '\n';
    return 1;
  }
  const Catalogue catalogue = tavutil::tavrc::ReadCatalogue(
      options.catalogue, text, options.defines, MakeIncludeReader(options, files));
  PrintDiagnostics(catalogue, options.warnings);
  if (!catalogue.Succeeded()) {
    return 1; // every output stays as it was
  }
  return WriteOutputs(options, catalogue) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  try {
    Options options;
    if (!ParseArguments(argc, argv, options)) {
      return 2;
    }
    return Build(options);
  } catch (const std::bad_alloc&) {
    std::cerr << "tavrc: error: out of memory\n";
  } catch (const std::exception& failure) {
    std::cerr << "tavrc: error: " << failure.what() << '\n';
  } catch (...) {
    std::cerr << "tavrc: error: an unexpected failure\n";
  }
  return 1;
}
