// quillomat-cli rows FILE TABLE [--json] [--limit N]: the rows of a table as the preview reads
// them. Plain output: one line per row, values separated by tabs (tab, line breaks and "\" in
// values written as \t, \n, \r, \\). JSON: {"fields": [...], "rows": [[...]]}.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/command.h"
#include "cli/command_target.h"
#include "cli/json_text.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "targets/connection.h"
#include "targets/target_access.h"
#include "targets/value.h"
#include "text/unicode.h"

namespace {

void JsonValue(std::string& out, const qm::TValue& value) {
    if (qm::IsNull(value)) {
        out += "null";
    } else if (const auto* b = std::get_if<bool>(&value)) {
        out += *b ? "true" : "false";
    } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
        out += std::to_string(*i);
    } else if (const auto* d = std::get_if<double>(&value)) {
        out += std::isfinite(*d) ? qm::FormatDouble(*d) : "null";
    } else if (const auto* c = std::get_if<qm::TCurrency>(&value)) {
        out += '"' + qm::FormatCurrency(*c) + '"';
    } else if (const auto* dec = std::get_if<qm::TDecimal>(&value)) {
        out += '"' + dec->Text + '"';
    } else if (const auto* t = std::get_if<qm::TDateTime>(&value)) {
        qm::TDateParts p;
        if (!qm::DecodeDateTime(*t, p)) {
            out += "null";
            return;
        }
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", p.Year, p.Month,
                      p.Day, p.Hour, p.Minute, p.Second);
        out += buffer;
    } else if (const auto* s = std::get_if<std::u16string>(&value)) {
        qm::cli::AppendJsonString(out, *s);
    } else if (const auto* bytes = std::get_if<qm::TBytes>(&value)) {
        out += "{\"bytes\": " + std::to_string(bytes->Data.size()) + "}";
    }
}

std::string PlainValue(const qm::TValue& value) {
    std::string text = qm::Utf16ToUtf8(qm::ValueToDisplayText(value));
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out;
}

int Run(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    bool json = false;
    long long limit = -1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--limit" && i + 1 < args.size()) {
            char* end = nullptr;
            limit = std::strtoll(args[++i].c_str(), &end, 10);
            if (*end != '\0' || limit < 0) {
                std::fputs("--limit には 0 以上の整数を指定してください / --limit takes a count\n",
                           stderr);
                return 1;
            }
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) {
        std::fputs("使い方 / usage: quillomat-cli rows FILE TABLE [--json] [--limit N]\n", stderr);
        return 1;
    }
    return qm::cli::RunReportingErrors([&] {
        qm::TConnection connection;
        qm::cli::ConnectTarget(connection, qm::FromNativePath(positional[0]));
        qm::TTable table(connection);
        qm::cli::OpenTargetTable(table, qm::Utf8ToUtf16(positional[1]));
        std::vector<qm::TAdoExcelField> fields = qm::GetFieldList(table);
        std::string out;
        if (json) {
            out += "{\"fields\": [";
            for (std::size_t i = 0; i < fields.size(); ++i) {
                if (i) out += ", ";
                qm::cli::AppendJsonString(out, fields[i].Name);
            }
            out += "], \"rows\": [";
        }
        std::vector<qm::TValue> values;
        long long count = 0;
        for (std::int64_t index = 0; limit < 0 || count < limit; ++index) {
            if (!table.ReadRow(index, values)) break;
            if (json) {
                out += count ? ", [" : "[";
                for (std::size_t i = 0; i < values.size(); ++i) {
                    if (i) out += ", ";
                    JsonValue(out, values[i]);
                }
                out += ']';
            } else {
                for (std::size_t i = 0; i < values.size(); ++i) {
                    if (i) out += '\t';
                    out += PlainValue(values[i]);
                }
                out += '\n';
            }
            ++count;
            if (out.size() > (1u << 16)) {
                std::fwrite(out.data(), 1, out.size(), stdout);
                out.clear();
            }
        }
        if (json) out += "]}\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        return 0;
    });
}

const qm::cli::TCommandRegistration kRegistration(
    {"rows", "FILE TABLE [--json] [--limit N]  行の内容 / print the rows", Run});

}  // namespace
