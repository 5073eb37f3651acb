#pragma once

#include <string>
#include <vector>

namespace klarwell {

// A small settings file of the classic "ini" form: [Section] lines and key=value lines. Section
// and key names compare without regard to ASCII case. Lines that are neither (comments, blank
// lines) and every section and key the program does not touch are kept as they stand, in order.
//
// Reading follows the rules users of such files know: blanks around a value are dropped, then one
// pair of enclosing quotes (double or single) is removed, so Suffix=" #kw2" keeps its leading
// blank; a value read back is at most MaxValueLength characters. Values are written as given.
//
// Single-threaded: one object belongs to one thread.
class TIniFile {
 public:
  static constexpr size_t MaxValueLength = 2047;

  // Starts empty; Load fills it from a file.
  TIniFile() = default;

  // Reads the file at `path`. A missing or unreadable file leaves the object empty and returns
  // false; that is not an error for a settings file (every setting keeps its designed value).
  bool Load(const std::string& path);

  // The value of section/key, or `defaultValue` when the section or key is absent.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;

  // The value as an integer: optional sign, then decimal digits, or "0x"/"0X" and hexadecimal
  // digits, within the 32-bit range. Anything else, or an absent key, gives `defaultValue`.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;

  // Sets section/key to `value` exactly as given (line breaks, which would split the line and
  // corrupt the file, become blanks). A missing section is appended at the end of the file, a
  // missing key at the end of its section; an existing key keeps its place.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);

  // Writes the whole file to a temporary file beside `path` and renames it over `path`, so that a
  // crash never leaves a half-written file behind. False with `errorText` set on failure (the
  // original file is then untouched).
  bool Save(const std::string& path, std::string& errorText) const;

  // The file's text as Save would write it.
  std::string Text() const;

 private:
  // Index of the "[section]" line, or -1.
  int FindSection(const std::string& section) const;
  // Index of the key's line within the section starting at `sectionLine`, or -1.
  int FindKey(int sectionLine, const std::string& key) const;
  // One past the last line belonging to the section starting at `sectionLine`.
  int SectionEnd(int sectionLine) const;

  std::vector<std::string> Lines;
};

// Parses an integer as TIniFile::ReadInteger does; false when `text` is not one.
bool ParseIniInteger(const std::string& text, int& value);

}  // namespace klarwell
