// quillomat-cli fields FILE TABLE [--json]: the fields of a table. Plain output: one line per
// field: name, type code, type name (tabs); the name's tab, line breaks and "\" are written as
// \t, \n, \r, \\ and its other control characters (and the Unicode line and paragraph
// separators) as \uHHHH, so that every field stays on its own line. JSON:
// {"fields": [{"name": ..., "type": ..., "typeName": ...}, ...]}.
#include <cstdio>
#include <string>

#include "cli/command.h"
#include "cli/command_target.h"
#include "cli/json_text.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "targets/connection.h"
#include "targets/target_access.h"
#include "text/unicode.h"

namespace {

constexpr const char* kUsage = "使い方 / usage: quillomat-cli fields FILE TABLE [--json]\n";

constexpr const char* kHelp =
    "使い方 / usage: quillomat-cli fields FILE TABLE [--json]\n"
    "\n"
    "テーブル（ワークシート）のフィールドを 1 行に 1 つずつ、名前・型番号・型名をタブで区切って\n"
    "表示します。名前の中のタブ・改行・「\\」は \\t \\n \\r \\\\ と、その他の制御文字（と\n"
    "U+2028、U+2029）は \\uHHHH（16 進 4 桁）と書きます。--json では\n"
    "{\"fields\": [{\"name\": …, \"type\": …, \"typeName\": …}, …]} を出力します。\n"
    "Lists the fields of a table (worksheet), one a line: name, type code and type name\n"
    "separated by tabs. In names, tab, line breaks and \"\\\" are written as \\t, \\n, \\r, \\\\,\n"
    "other control characters (and U+2028, U+2029) as \\uHHHH (four hex digits). --json prints\n"
    "{\"fields\": [{\"name\": ..., \"type\": ..., \"typeName\": ...}, ...]}.\n";

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

void AppendUnicodeEscape(std::string& out, char16_t c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
    out += buffer;
}

// The name on one line, escaped as the help says.
std::string PlainName(std::u16string_view name) {
    std::string out;
    std::u16string run;  // characters without escapes, converted together
    auto flush = [&] {
        out += qm::Utf16ToUtf8(run);
        run.clear();
    };
    for (char16_t c : name) {
        const char* escape = c == u'\t'   ? "\\t"
                             : c == u'\n' ? "\\n"
                             : c == u'\r' ? "\\r"
                             : c == u'\\' ? "\\\\"
                                          : nullptr;
        if (!escape && !IsControl(c)) {
            run += c;
            continue;
        }
        flush();
        if (escape)
            out += escape;
        else
            AppendUnicodeEscape(out, c);
    }
    flush();
    return out;
}

int Run(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--json")
            json = true;
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    return qm::cli::RunReportingErrors([&] {
        qm::TConnection connection;
        qm::cli::ConnectTarget(connection, qm::FromNativePath(positional[0]));
        qm::TTable table(connection);
        qm::cli::OpenTargetTable(table, qm::Utf8ToUtf16(positional[1]));
        std::string out = json ? "{\"fields\": [" : "";
        bool firstField = true;
        for (const auto& field : qm::GetFieldList(table)) {
            int type = static_cast<int>(field.DataType);
            std::u16string typeName = qm::GetFieldTypeName(field.DataType);
            if (json) {
                out += firstField ? "" : ", ";
                out += "{\"name\": ";
                qm::cli::AppendJsonString(out, field.Name);
                out += ", \"type\": " + std::to_string(type) + ", \"typeName\": ";
                qm::cli::AppendJsonString(out, typeName);
                out += "}";
            } else {
                out += PlainName(field.Name) + "\t" + std::to_string(type) + "\t" +
                       qm::Utf16ToUtf8(typeName) + "\n";
            }
            firstField = false;
        }
        if (json) out += "]}\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        return 0;
    });
}

const qm::cli::TCommandRegistration kRegistration(
    {"fields",
     "FILE TABLE [--json]  フィールドと型の一覧（名前の制御文字は \\n などに置き換え。"
     "fields --help）/ list the fields and their types (control characters in names escaped "
     "as \\n etc.; fields --help)",
     Run});

}  // namespace
