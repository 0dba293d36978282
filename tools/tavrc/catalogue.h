// tools/tavrc/catalogue.h: the message catalogue reader of tavrc and the table it generates.
// Licensed under the Apache License, Version 2.0.
//
// A catalogue is UTF-8 text in the string-table form of resource scripts: STRINGTABLE blocks
// of `id, "text"` entries, with comments, #define'd ids, #include'd headers and conditionals.
// tavrc turns it into a C++ source whose compiled shared object is a language resource library.
#ifndef TAVUTIL_TOOLS_TAVRC_CATALOGUE_H
#define TAVUTIL_TOOLS_TAVRC_CATALOGUE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tavutil::tavrc {

/// The largest string id a string table holds (ids are 16 bits wide).
inline constexpr std::uint32_t kMaxId = 0xFFFF;
/// The longest text, in UTF-16 units, that a library reads back whole; longer texts are
/// kept in the table and reported with a warning.
inline constexpr std::size_t kMaxReadUnits = 256;

/// The most bytes read of one file, and of all the files of one catalogue together (the
/// catalogue and every include, each time it is included).
inline constexpr std::size_t kMaxFileBytes = std::size_t{8} << 20;
inline constexpr std::size_t kMaxTotalBytes = std::size_t{32} << 20;
/// The most bytes of text that macro expansion may copy (a string counts two per UTF-16 unit).
inline constexpr std::size_t kMaxExpandedBytes = std::size_t{32} << 20;

/// What an IncludeReader throws for a file that is there but cannot be used: not a regular
/// file, too large, unreadable. The include is reported with what() and reading goes on.
class IncludeError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// One error or warning, with the file and line it refers to.
struct Diagnostic {
  std::string file;
  unsigned line;
  bool error; ///< false for a warning
  std::string text;
};

/// One string of the table.
struct StringEntry {
  std::uint32_t id;
  std::u16string text;
  std::string file; ///< where the entry was written
  unsigned line;
};

/// Finds and reads an included file. `name` is the name as written, `includer` the path of
/// the file that includes it. Fills `path` and `contents` and returns true, or returns false
/// when there is no such file; throws IncludeError for one that cannot be used.
using IncludeReader = std::function<bool(const std::string& name, const std::string& includer,
                                         std::string& path, std::string& contents)>;

/// What reading a catalogue gives: the strings sorted by id, every diagnostic in the order it
/// was found, and the files that were read (the catalogue first).
struct Catalogue {
  std::vector<StringEntry> strings;
  std::vector<Diagnostic> diagnostics;
  std::vector<std::string> files;

  /// Whether no diagnostic is an error. Throws nothing.
  bool Succeeded() const noexcept;
};

/// Reads the catalogue `text` of file `path`. `defines` are predefined names with their values
/// (as -D gives them); `reader` resolves #include (null: every include fails). Every fault of
/// the input is an error diagnostic (reading stops after 50 errors). Throws std::bad_alloc
/// when memory runs out.
Catalogue ReadCatalogue(const std::string& path, const std::string& text,
                        const std::vector<std::pair<std::string, std::string>>& defines,
                        const IncludeReader& reader);

/// The C++ source of a resource library holding `strings` (sorted by id, ids unique): one
/// exported table, read by the library's string-resource loader. `origin` names the catalogue
/// in the source's banner. Throws std::bad_alloc when memory runs out.
std::string GenerateTableSource(const std::vector<StringEntry>& strings, const std::string& origin);

} // namespace tavutil::tavrc

#endif // TAVUTIL_TOOLS_TAVRC_CATALOGUE_H
