#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The INI profile beside the executable, read and written the way the Windows private-profile
// functions treat the same Shift-JIS file, so that a profile moves between the Windows build and
// this one unchanged. The settings load from it at start-up and store into it at exit; the main
// frame keeps its placement in it.
//
// A profile is loaded once, edited in memory and committed once: a save of many keys rewrites
// the file a single time, and always as a whole.
//
// Reading, as the Windows functions do it:
// - Section and key names match without regard to ASCII case; double-byte characters match
//   byte for byte. The first matching section and the first matching key in it win.
// - Lines are split at LF; a CR before the LF is dropped. Blanks around a line, around the key
//   name and around the value are ignored. A header is a line that starts with "[" and has a
//   "]"; the name is what lies between "[" and the last "]". A line without "=" inside a section
//   is a key with an empty value.
// - A value enclosed in a pair of the same quotes (" or ') comes back without them.
// - A text comes back cut to 259 bytes (the 260-byte buffer of the caller). Going beyond the
//   Windows functions, a text never ends in half a double-byte character: a lead byte left
//   alone at the end by that cut, or by a line that ends inside a character, is dropped. A NUL
//   byte ends the value, as it ends a C string.
// - An integer is the value's leading number: blanks, one optional sign, then digits, wrapping
//   modulo 2^32 like the Windows parser. "12abc" gives 12 and "abc" gives 0 (not the default);
//   a missing key or an empty value gives the default. Like the Windows function, a lowercase
//   prefix "0x", "0o" or "0b" after the sign reads the digits as hexadecimal, octal or binary.
// - A UTF-8 byte-order mark at the start of the file is skipped (and kept when the file is
//   written back). Windows would take it as part of the first line and so lose the first
//   section; an editor that adds the mark should not cost the user the serial settings.
//
// Writing: every line that is not rewritten stays byte for byte as it was (comments, unknown
// keys and sections). An existing key's value is replaced in place; a missing key is added after
// the last non-blank line of its section; a missing section is added at the end of the file.
// Lines end in CR LF on writing.
namespace skiro {

struct ProfileSaveResult {
    int error = 0;       // errno of the failed step, 0 when the profile was written
    std::string message; // which step failed, for a message box or a trace
    bool ok() const { return error == 0; }
};

// The leading integer of a profile value, as the Windows profile functions parse it.
std::int32_t leadingInteger(std::string_view text);

class Profile {
  public:
    static constexpr std::size_t kTextMax = 259;

    // An empty profile that commits to `file`.
    explicit Profile(std::string file = {}) : m_file(std::move(file)) {}

    // Reads `file`; a missing or unreadable file gives an empty profile bound to that path.
    static Profile load(const std::string& file);
    // A profile holding `bytes` as its file content, bound to `file`.
    static Profile fromBytes(std::string_view bytes, std::string file = {});

    const std::string& file() const { return m_file; }

    // GetPrivateProfileStringA with a 260-byte buffer.
    std::string readText(std::string_view section, std::string_view key,
                         std::string_view defaultText) const;
    // GetPrivateProfileIntA.
    std::int32_t readInt(std::string_view section, std::string_view key,
                         std::int32_t defaultValue) const;
    // Whether the key is present at all (with any value).
    bool contains(std::string_view section, std::string_view key) const;

    // WritePrivateProfileStringA, in memory. A value is stored on one line: it ends at its first
    // CR, LF or NUL, so that it can never inject lines of its own. A value that would not read
    // back as it is (blanks at either end, or enclosed in quotes) is written inside double
    // quotes, which the reader removes again.
    void writeText(std::string_view section, std::string_view key, std::string_view value);
    // Written with the format "%d".
    void writeInt(std::string_view section, std::string_view key, std::int32_t value);

    // The file as it would be written: lines joined by CR LF.
    std::string bytes() const;

    // Writes the whole profile to a temporary file in the same folder, flushes it to disk and
    // renames it over the old file, so a crash or a full disk leaves either the old profile or
    // the new one. On failure the old file is untouched and the temporary file removed.
    ProfileSaveResult commit() const;

  private:
    struct KeyLine {
        std::size_t line;
        std::string_view value; // the raw value, trimmed, quotes not yet removed
    };

    std::size_t findSection(std::string_view section) const; // npos when missing
    std::size_t sectionEnd(std::size_t header) const;        // first line after the section
    bool findKey(std::string_view section, std::string_view key, KeyLine& found) const;

    std::string m_file;
    bool m_byteOrderMark = false;
    std::vector<std::string> m_lines; // without their line ends
};

} // namespace skiro
