#include "project/ini_document.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"
#include "platform/int_text.h"
#include "platform/native_path.h"
#include "platform/system_code_page.h"
#include "text/unicode.h"

namespace qm {

namespace {

bool IsBlank(char16_t c) noexcept {
    return c <= 32;
}

std::u16string_view Trim(std::u16string_view text) noexcept {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto first = static_cast<unsigned char>(bytes[2 * i]);
        auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    }
    if (bytes.size() % 2 != 0) text += u'\uFFFD';  // a cut last unit
    return text;
}

std::string EncodeUtf16(std::u16string_view text, bool bigEndian) {
    std::string bytes(text.size() * 2, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto high = static_cast<char>(text[i] >> 8);
        auto low = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i] = bigEndian ? high : low;
        bytes[2 * i + 1] = bigEndian ? low : high;
    }
    return bytes;
}

// A value that cannot stand on one line (it holds a line break, which would end the line and
// let the rest be read as a key of its own) is stored escaped: the prefix, then the value with
// blanks, controls and the characters "%", ",", "=" and a double quote written as "%" and two
// hexadecimal digits. The escaped form is one line of text without blanks, commas or "=", so a
// reader that does not know it takes it for one odd value: not a full path, not a worksheet
// name (":" is not allowed in one), and no relation item (no "="). A value that itself begins
// with the prefix is escaped too, so that reading gives back exactly what was written.
constexpr std::u16string_view kEscapedPrefix = u"qm-escaped:";

bool NeedsEscape(std::u16string_view value) noexcept {
    return value.find_first_of(u"\r\n") != std::u16string_view::npos ||
           value.starts_with(kEscapedPrefix);
}

bool IsEscapedUnit(char16_t c) noexcept {
    return c <= 0x20 || c == 0x7F || c == u'%' || c == u',' || c == u'=' || c == u'"';
}

std::u16string Escape(std::u16string_view value) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string escaped(kEscapedPrefix);
    for (char16_t c : value) {
        if (IsEscapedUnit(c)) {
            escaped += u'%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 0xF];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

int HexDigit(char16_t c) noexcept {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// The value an escaped text stands for; a "%" without two hexadecimal digits is kept as it is.
std::u16string Unescape(std::u16string_view escaped) {
    std::u16string value;
    value.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == u'%' && i + 2 < escaped.size() && HexDigit(escaped[i + 1]) >= 0 &&
            HexDigit(escaped[i + 2]) >= 0) {
            value +=
                static_cast<char16_t>(HexDigit(escaped[i + 1]) * 16 + HexDigit(escaped[i + 2]));
            i += 2;
        } else {
            value += escaped[i];
        }
    }
    return value;
}

std::u16string DecimalText(std::int32_t value) {
    std::string ascii = std::to_string(value);
    return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace

TIniDocument TIniDocument::FromBytes(std::string_view bytes) {
    TIniDocument document;
    std::u16string text;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        document.encoding_ = TEncoding::Utf8;
        text = Utf8ToUtf16(bytes.substr(3));
    } else if (bytes.starts_with("\xFF\xFE")) {
        document.encoding_ = TEncoding::Utf16LE;
        text = DecodeUtf16(bytes.substr(2), false);
    } else if (bytes.starts_with("\xFE\xFF")) {
        document.encoding_ = TEncoding::Utf16BE;
        text = DecodeUtf16(bytes.substr(2), true);
    } else {
        text = DecodeSystemText(bytes);
    }

    TSection* current = nullptr;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = i;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        std::u16string_view line = Trim(std::u16string_view(text).substr(i, end - i));
        i = end;
        if (i < text.size()) {  // CR LF, CR or LF ends the line
            if (text[i++] == u'\r' && i < text.size() && text[i] == u'\n') ++i;
        }

        if (line.empty() || line.front() == u';') continue;
        if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
            document.sections_.push_back(
                {std::u16string(Trim(line.substr(1, line.size() - 2))), {}});
            current = &document.sections_.back();
            continue;
        }
        if (current == nullptr) continue;
        std::size_t equals = line.find(u'=');
        if (equals == std::u16string_view::npos) {
            current->lines.emplace_back(line);
        } else {
            std::u16string stored(Trim(line.substr(0, equals)));
            stored += u'=';
            stored += Trim(line.substr(equals + 1));
            current->lines.push_back(std::move(stored));
        }
    }
    return document;
}

TIniDocument TIniDocument::FromFile(const std::u16string& path) {
    struct stat info {};
    if (::stat(ToNativePath(path).c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        return TIniDocument();
    }
    TFileStream stream(path);
    std::int64_t size = stream.GetSize();
    if (size > kMaxFileSize) {
        throw Error(u"ファイルが大きすぎるため読み込めません（上限 64 MB）。\n" + path);
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    bytes.resize(stream.Read(bytes.data(), bytes.size()));
    return FromBytes(bytes);
}

std::string TIniDocument::ToBytes() const {
    std::u16string text;
    for (const TSection& section : sections_) {
        text += u'[';
        text += section.name;
        text += u"]\r\n";
        for (const std::u16string& line : section.lines) {
            text += line;
            text += u"\r\n";
        }
        text += u"\r\n";
    }
    switch (encoding_) {
        case TEncoding::Utf8:
            return "\xEF\xBB\xBF" + Utf16ToUtf8(text);
        case TEncoding::Utf16LE:
            return "\xFF\xFE" + EncodeUtf16(text, false);
        case TEncoding::Utf16BE:
            return "\xFE\xFF" + EncodeUtf16(text, true);
        case TEncoding::SystemCodePage:
            break;
    }
    return EncodeSystemText(text);
}

void TIniDocument::SaveToFile(const std::u16string& path) const {
    WriteWholeFile(path, ToBytes());
}

const TIniDocument::TSection* TIniDocument::FindSection(std::u16string_view name) const {
    for (const TSection& section : sections_) {
        if (SameText(section.name, name)) return &section;
    }
    return nullptr;
}

const std::u16string* TIniDocument::FindLine(const TSection& section, std::u16string_view key) {
    for (const std::u16string& line : section.lines) {
        std::size_t equals = line.find(u'=');
        if (equals != std::u16string::npos &&
            SameText(std::u16string_view(line).substr(0, equals), key)) {
            return &line;
        }
    }
    return nullptr;
}

bool TIniDocument::SectionExists(std::u16string_view section) const {
    return FindSection(section) != nullptr;
}

std::u16string TIniDocument::ReadString(std::u16string_view section, std::u16string_view key,
                                        std::u16string_view fallback) const {
    const TSection* found = FindSection(section);
    const std::u16string* line = found ? FindLine(*found, key) : nullptr;
    if (line == nullptr) return std::u16string(fallback);
    std::u16string_view value = std::u16string_view(*line).substr(line->find(u'=') + 1);
    if (value.starts_with(kEscapedPrefix)) return Unescape(value.substr(kEscapedPrefix.size()));
    return std::u16string(value);
}

std::int32_t TIniDocument::ReadInteger(std::u16string_view section, std::u16string_view key,
                                       std::int32_t fallback) const {
    // The integer reader takes "0x", "0X" and "$" before hexadecimal digits.
    return StrToIntDef(ReadString(section, key, u""), fallback);
}

bool TIniDocument::ReadBool(std::u16string_view section, std::u16string_view key,
                            bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniDocument::WriteString(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value) {
    auto* found = const_cast<TSection*>(FindSection(section));
    if (found == nullptr) {
        sections_.push_back({std::u16string(section), {}});
        found = &sections_.back();
    }
    std::u16string line(key);
    line += u'=';
    if (NeedsEscape(value))
        line += Escape(value);
    else
        line += value;
    if (auto* existing = const_cast<std::u16string*>(FindLine(*found, key))) {
        *existing = std::move(line);
    } else {
        found->lines.push_back(std::move(line));
    }
}

void TIniDocument::WriteInteger(std::u16string_view section, std::u16string_view key,
                                std::int32_t value) {
    WriteString(section, key, DecimalText(value));
}

void TIniDocument::WriteBool(std::u16string_view section, std::u16string_view key, bool value) {
    WriteString(section, key, value ? u"1" : u"0");
}

}  // namespace qm
