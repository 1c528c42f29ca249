// The INI text format shared by the project file, the settings file and the association
// request file: an ordered list of sections, each an ordered list of lines, normally
// key=value.
//
// Reading: a byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE; without one the bytes are
// in the system's legacy code page. Lines end at CR LF, CR or LF and are trimmed of code points
// 0 to 32 at both ends. Empty lines, lines starting with ";" and lines before the first
// "[section]" are dropped. A line with "=" is split at its first "=", key and value trimmed; a
// line without one is kept as it is. Section names and keys compare without regard to letter
// case; the first of several equal sections or keys is the one read and written. Values are
// taken literally, except a value in the escaped form (below).
//
// A value holding a line break cannot be stored as it is: it is written escaped, as
// "qm-escaped:" and the value with blanks, controls, "%", ",", "=" and double quotes as "%XX",
// and read back unescaped. Any other value is stored unchanged.
//
// Writing: every section as "[name]", its lines and one empty line, each line ended by CR LF,
// in the encoding the document was read in (with its byte-order mark), or in the legacy code
// page without a mark for a document that had none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class TIniDocument {
  public:
    enum class TEncoding { SystemCodePage, Utf8, Utf16LE, Utf16BE };

    // Larger files are refused: no file of the program comes near it, and reading a stray
    // multi-gigabyte file whole would exhaust memory before anything could be said.
    static constexpr std::int64_t kMaxFileSize = 64 * 1024 * 1024;

    TIniDocument() = default;

    // A missing file gives an empty document. Throws Error (naming the file) for a file that
    // exists but cannot be read, or that is larger than kMaxFileSize.
    static TIniDocument FromFile(const std::u16string& path);
    static TIniDocument FromBytes(std::string_view bytes);

    // The file's bytes, and writing them over the file at path (Error naming the file when that
    // fails; the old file is then unchanged).
    std::string ToBytes() const;
    void SaveToFile(const std::u16string& path) const;

    TEncoding Encoding() const noexcept { return encoding_; }

    bool SectionExists(std::u16string_view section) const;
    std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                              std::u16string_view fallback) const;
    // "0x"/"0X" or "$" then hexadecimal digits, or a signed decimal integer; anything else, or
    // a value beyond 32 bits, gives the fallback.
    std::int32_t ReadInteger(std::u16string_view section, std::u16string_view key,
                             std::int32_t fallback) const;
    // An integer (fallback 1 or 0) that is not 0.
    bool ReadBool(std::u16string_view section, std::u16string_view key, bool fallback) const;

    // Replaces the section's first line of that key in place, spelling the key as given, or
    // appends the line; a missing section is appended to the document first.
    void WriteString(std::u16string_view section, std::u16string_view key,
                     std::u16string_view value);
    void WriteInteger(std::u16string_view section, std::u16string_view key, std::int32_t value);
    void WriteBool(std::u16string_view section, std::u16string_view key, bool value);

  private:
    struct TSection {
        std::u16string name;
        std::vector<std::u16string> lines;
    };

    const TSection* FindSection(std::u16string_view name) const;
    static const std::u16string* FindLine(const TSection& section, std::u16string_view key);

    std::vector<TSection> sections_;
    TEncoding encoding_ = TEncoding::SystemCodePage;
};

}  // namespace qm
