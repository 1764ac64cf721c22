#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/SjisConversion.h"
#include "core/SystemCalls.h"

// The INI profile beside the executable, read and written the way the Windows private-profile
// functions treat the same file, so that a profile moves between the Windows build and this one
// unchanged. The settings load from it at start-up and store into it at exit; the main frame
// keeps its placement in it.
//
// Reading, as the Windows functions do it:
// - Section and key names match without regard to ASCII case; double-byte characters match
//   byte for byte. The first matching section and the first matching key in it win.
// - A line ends at CR LF, at LF or at a lone CR. Blanks around a line, around the key name and
//   around the value are ignored. A header is a line that starts with "[" and has a "]"; the
//   name is what lies between "[" and the last "]", without blanks at either end. A line
//   without "=" is no key at all.
// - A value enclosed in a pair of the same quotes (" or ') comes back without them.
// - A text comes back cut to 259 bytes (the 260-byte buffer of the caller). Going beyond the
//   Windows functions, a text never ends in half a double-byte character: a lead byte left
//   alone at the end by that cut, or by a line that ends inside a character, is dropped. A NUL
//   byte ends the value, as it ends a C string.
// - An integer is the value's leading number: blanks, one optional sign, then digits, wrapping
//   modulo 2^32 like the Windows parser. "12abc" gives 12 and "abc" gives 0 (not the default);
//   a missing key or an empty value gives the default. Like the Windows function, a lowercase
//   prefix "0x", "0o" or "0b" after the sign reads the digits as hexadecimal, octal or binary.
//
// Encodings. The program's texts are Shift-JIS; the file keeps the encoding it came in:
// - UTF-16 LE with its byte-order mark, as the Windows functions read and write it;
// - UTF-8, with a byte-order mark or without one when the whole file is valid UTF-8 and holds
//   something beyond ASCII (the profile was edited in a Linux editor);
// - Shift-JIS otherwise, and for a new profile.
// Values of a UTF-8 or UTF-16 profile pass through the SjisConversion handed in; without one only
// ASCII survives the conversion, anything else becomes "?".
//
// Writing follows the file as it is when the profile is committed, as the Windows functions,
// which read the file at every call, would: the file is read again, the keys written in this run
// are changed in it, and every other byte stays as it is (comments, unknown keys and sections,
// lines added while the program ran, the line ends). A key whose value already reads as the one
// written is left untouched. An existing key's value is replaced in place; a missing key is
// added after the last entry of its section, before the blank lines and ";" comments that end
// it; a missing section is added at the end of the file. New lines end like the file's first line, CR LF in a new file.
namespace skiro {

// Whether the profile was written, and if not, which step failed and why.
using ProfileSaveResult = FileResult;

// The leading integer of a profile value, as the Windows profile functions parse it.
std::int32_t leadingInteger(std::string_view text);

class Profile {
  public:
    static constexpr std::size_t kTextMax = 259;

    enum class Encoding { ShiftJis, Utf8, Utf16Le };

    // An empty Shift-JIS profile that commits to `file`.
    explicit Profile(std::string file = {}, const SjisConversion* conversion = nullptr)
        : m_file(std::move(file)), m_conversion(conversion) {}

    // Reads `file`; a missing or unreadable file gives an empty profile bound to that path.
    static Profile load(const std::string& file, const SjisConversion* conversion = nullptr);
    // A profile holding `bytes` as its file content, bound to `file`.
    static Profile fromBytes(std::string_view bytes, std::string file = {},
                             const SjisConversion* conversion = nullptr);

    const std::string& file() const { return m_file; }
    Encoding encoding() const { return m_encoding; }

    // GetPrivateProfileStringA with a 260-byte buffer; the text in Shift-JIS.
    std::string readText(std::string_view section, std::string_view key,
                         std::string_view defaultText) const;
    // GetPrivateProfileIntA.
    std::int32_t readInt(std::string_view section, std::string_view key,
                         std::int32_t defaultValue) const;
    // Whether the key is present at all (with any value).
    bool contains(std::string_view section, std::string_view key) const;

    // WritePrivateProfileStringA, in memory until commit(). A value is stored on one line and
    // reads back exactly as it is stored: CR, LF and NUL are left out, together with a lead
    // byte that they (or the end of the value) leave without its trail byte, so that neither a
    // forged line nor a different character can come out of it. A value that would not read
    // back as it is (blanks at either end, or enclosed in quotes) is written inside double
    // quotes, which the reader removes again.
    void writeText(std::string_view section, std::string_view key, std::string_view value);
    // Written with the format "%d".
    void writeInt(std::string_view section, std::string_view key, std::int32_t value);

    // The profile as the Windows functions would see it now: the file read again, with this
    // run's writes made in it. A profile without a file is itself.
    Profile current() const;

    // The file as it would be written, in the profile's encoding.
    std::string bytes() const;

    // Writes current() to a temporary file in the same folder, flushes it to disk and renames
    // it over the old file, so a crash or a full disk leaves either the old profile or the new
    // one. On failure the old file is untouched and the temporary file removed. A file that is
    // read-only, or that exists but cannot be read, is left alone.
    ProfileSaveResult commit() const;

  private:
    struct Line {
        std::string text; // in Shift-JIS, or UTF-8 for a UTF-8 or UTF-16 file
        std::string end;  // "\r\n", "\n", "\r", or "" for a last line without one
    };
    struct KeyLine {
        std::size_t line;
        std::string_view value; // the raw value, trimmed, quotes not yet removed
    };
    struct Write {
        std::string section;
        std::string key;
        std::string value;
    };

    std::string toFile(std::string_view sjis) const;   // names and values on their way in
    std::string fromFile(std::string_view text) const; // values on their way out
    std::size_t charLength(std::string_view text, std::size_t pos) const;
    bool sameName(std::string_view a, std::string_view b) const;
    bool headerName(std::string_view line, std::string_view& name) const;
    std::size_t findSection(std::string_view section) const; // npos when missing
    std::size_t sectionEnd(std::size_t header) const;        // first line after the section
    bool findKey(std::string_view section, std::string_view key, KeyLine& found) const;
    std::string textOf(std::string_view raw) const;
    void insertLine(std::size_t at, std::string text);
    void noteHeader(std::size_t line); // keeps m_headers when a line has become a header

    std::string m_file;
    const SjisConversion* m_conversion = nullptr;
    Encoding m_encoding = Encoding::ShiftJis;
    bool m_byteOrderMark = false;
    std::string m_oddByte; // a UTF-16 file's last byte that makes no code unit
    std::string m_newline = "\r\n";
    std::vector<Line> m_lines;
    std::vector<std::size_t> m_headers; // the header lines, in order
    std::vector<Write> m_writes; // this run's writes, made again in the file at commit
};

} // namespace skiro
