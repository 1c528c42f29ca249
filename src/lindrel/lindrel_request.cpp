#include "lindrel/lindrel_request.h"

#include "platform/error.h"
#include "text/unicode.h"

namespace qm {

namespace {

constexpr std::size_t kMaxExtensionLength = 32;

[[noreturn]] void Refuse(std::u16string_view message) {
    throw Error(std::u16string(message));
}

bool HasControlCharacter(std::u16string_view text) {
    for (char16_t c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// Letters, digits and "_+-" after the dot: the extension goes into file names and glob
// patterns, where anything else could name another folder or match other files.
bool IsExtension(std::u16string_view text) {
    if (text.size() < 2 || text.size() > kMaxExtensionLength + 1 || text[0] != u'.') return false;
    for (char16_t c : text.substr(1)) {
        const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                        (c >= u'0' && c <= u'9') || c == u'_' || c == u'+' || c == u'-';
        if (!ok) return false;
    }
    return true;
}

std::string Ascii(std::u16string_view text, bool upper) {
    std::string result;
    for (char16_t c : text) {
        auto a = static_cast<char>(c);
        if (!upper && a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (upper && a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
        result += a;
    }
    return result;
}

// The extension without its dot, in lower case (checked by ReadLindrelRequest to be ASCII).
std::string ExtensionKey(std::u16string_view extension) {
    return Ascii(extension.substr(1), false);
}

std::string XmlText(std::u16string_view text) {
    // U+FFFE and U+FFFF are not characters XML may hold (lone surrogates become U+FFFD in the
    // conversion to UTF-8 already).
    std::u16string characters(text);
    for (char16_t& c : characters)
        if (c == 0xFFFE || c == 0xFFFF) c = 0xFFFD;
    std::string result;
    for (char c : Utf16ToUtf8(characters)) {
        switch (c) {
            case '&':
                result += "&amp;";
                break;
            case '<':
                result += "&lt;";
                break;
            case '>':
                result += "&gt;";
                break;
            case '"':
                result += "&quot;";
                break;
            default:
                result += c;
        }
    }
    return result;
}

// A desktop entry's string value: backslash and the control characters written as escapes.
std::string DesktopString(std::string_view text) {
    std::string result;
    for (char c : text) {
        switch (c) {
            case '\\':
                result += "\\\\";
                break;
            case '\t':
                result += "\\t";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            default:
                result += c;
        }
    }
    return result;
}

bool EndsWithImageExtension(std::u16string_view path) {
    for (std::u16string_view image : {u".svg", u".png", u".xpm"}) {
        if (path.size() <= image.size()) continue;
        if (Ascii(path.substr(path.size() - image.size()), false) == Ascii(image, false))
            return true;
    }
    return false;
}

// An image file is named by its path; a program file (the Windows edition names the program,
// whose first icon it shows) by its name without extension, which is the icon the program
// installs into the icon theme.
std::string DesktopIcon(std::u16string_view iconFile) {
    if (EndsWithImageExtension(iconFile)) return Utf16ToUtf8(iconFile);
    std::u16string_view name = iconFile.substr(iconFile.rfind(u'/') + 1);
    name = name.substr(0, name.find(u'.'));
    return Utf16ToUtf8(name);
}

}  // namespace

TLindrelRequest ReadLindrelRequest(const TIniDocument& document) {
    TLindrelRequest request;
    const std::int32_t task = document.ReadInteger(u"TASK", u"COMMAND", 0);
    if (task != 1 && task != 2)
        Refuse(u"[TASK] COMMAND が 1（登録）でも 2（削除）でもありません。");
    request.Task = static_cast<TLindrelRequest::TTask>(task);
    request.Extension = document.ReadString(u"EXT", u"EXT", u"");
    if (!IsExtension(request.Extension))
        Refuse(u"[EXT] EXT が拡張子（\".\" と英数字）ではありません: " + request.Extension);
    if (request.Task == TLindrelRequest::TTask::Remove) return request;

    request.Command = document.ReadString(u"EXT", u"COMMAND", u"");
    request.FileType = document.ReadString(u"EXT", u"FILE_TYPE", u"");
    request.IconFile = document.ReadString(u"EXT", u"ICON_FILE", u"");
    request.IconIndex = document.ReadInteger(u"EXT", u"ICON_INDEX", 0);
    if (SplitCommandLine(request.Command).empty() || SplitCommandLine(request.Command)[0].empty())
        Refuse(u"[EXT] COMMAND に起動するプログラムがありません。");
    for (const auto& [key, value] :
         {std::pair<std::u16string_view, const std::u16string&>{u"COMMAND", request.Command},
          {u"FILE_TYPE", request.FileType},
          {u"ICON_FILE", request.IconFile}}) {
        if (HasControlCharacter(value))
            Refuse(u"[EXT] " + std::u16string(key) + u" に制御文字があります。");
    }
    return request;
}

std::vector<std::u16string> SplitCommandLine(std::u16string_view command) {
    std::vector<std::u16string> arguments;
    std::u16string current;
    bool inArgument = false;
    bool inQuotes = false;
    std::size_t i = 0;
    while (i < command.size()) {
        const char16_t c = command[i];
        if (!inQuotes && (c == u' ' || c == u'\t')) {
            if (inArgument) arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == u'\\') {
            std::size_t end = i;
            while (end < command.size() && command[end] == u'\\')
                ++end;
            const std::size_t count = end - i;
            if (end < command.size() && command[end] == u'"') {
                current.append(count / 2, u'\\');
                if (count % 2 != 0) {
                    current += u'"';
                    ++end;
                }
            } else {
                current.append(count, u'\\');
            }
            i = end;
        } else if (c == u'"') {
            if (inQuotes && i + 1 < command.size() && command[i + 1] == u'"') {
                current += u'"';
                i += 2;
            } else {
                inQuotes = !inQuotes;
                ++i;
            }
        } else {
            current += c;
            ++i;
        }
    }
    if (inArgument) arguments.push_back(std::move(current));
    return arguments;
}

std::string MimeTypeName(std::u16string_view extension) {
    const std::string key = ExtensionKey(extension);
    return key == "qlm" ? "application/x-quillomat-project" : "application/x-quillomat-" + key;
}

std::string MimePackageFileName(std::u16string_view extension) {
    return "quillomat-" + ExtensionKey(extension) + ".xml";
}

std::string DesktopFileName(std::u16string_view extension) {
    return "quillomat-" + ExtensionKey(extension) + ".desktop";
}

std::string DesktopExec(const std::vector<std::u16string>& arguments) {
    std::string exec;
    for (const std::u16string& argument : arguments) {
        if (!exec.empty()) exec += ' ';
        if (argument == u"%1") {
            exec += "%f";
            continue;
        }
        const std::string text = Utf16ToUtf8(argument);
        bool quote = text.empty();
        for (char c : text)
            if (std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos)
                quote = true;
        if (quote) exec += '"';
        for (char c : text) {
            if (quote && std::string_view("\"`$\\").find(c) != std::string_view::npos) exec += '\\';
            exec += c;
            if (c == '%') exec += '%';  // a literal percent sign is written twice
        }
        if (quote) exec += '"';
    }
    return exec;
}

std::string MimePackageXml(const TLindrelRequest& request) {
    const std::string lower = "*." + ExtensionKey(request.Extension);
    const std::string upper = "*." + Ascii(request.Extension.substr(1), true);
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"" +
        MimeTypeName(request.Extension) + "\">\n";
    if (!request.FileType.empty())
        xml += "    <comment>" + XmlText(request.FileType) + "</comment>\n";
    // Project files are INI text, so text editors are offered for them too.
    xml += "    <sub-class-of type=\"text/plain\"/>\n";
    xml += "    <glob pattern=\"" + lower + "\"/>\n";
    if (upper != lower) xml += "    <glob pattern=\"" + upper + "\"/>\n";
    xml += "  </mime-type>\n</mime-info>\n";
    return xml;
}

std::string DesktopEntry(const TLindrelRequest& request) {
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Quillomat\n";
    entry += "Exec=" + DesktopString(DesktopExec(SplitCommandLine(request.Command))) + "\n";
    if (const std::string icon = DesktopIcon(request.IconFile); !icon.empty())
        entry += "Icon=" + DesktopString(icon) + "\n";
    entry += "MimeType=" + MimeTypeName(request.Extension) + ";\n";
    // The program's own menu entry is installed with it; this one only opens files.
    entry += "NoDisplay=true\n";
    entry += "Terminal=false\n";
    return entry;
}

}  // namespace qm
