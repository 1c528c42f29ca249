// quillomat-cli check FILE: the consistency checker of Access databases (.mdb, .accdb).
#include <cstdio>

#include "cli/command.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "targets/jet/jet_check.h"
#include "text/unicode.h"

namespace {

int RunCheck(const std::vector<std::string>& args) {
    qm::jet::TCheckOptions options;
    std::vector<std::string> files;
    for (const auto& arg : args) {
        if (arg == "--strict")
            options.strict = true;
        else
            files.push_back(arg);
    }
    if (files.size() != 1) {
        std::fputs("使い方 / usage: quillomat-cli check [--strict] FILE\n", stderr);
        return 2;
    }
    try {
        const auto database = qm::jet::TJetDatabase::Open(qm::FromNativePath(files[0]));
        const qm::jet::TCheckReport report = qm::jet::CheckDatabase(*database, options);
        for (const auto& table : report.tables) {
            std::printf("%s: %u 行（定義 %u 行）、索引 %u、キー照合 %u",
                        qm::Utf16ToUtf8(table.table).c_str(), table.liveRows, table.storedRowCount,
                        table.indexes, table.keysCompared);
            if (table.keysNotProvable > 0)
                std::printf("、照合できないテキストのキー %u", table.keysNotProvable);
            std::putchar('\n');
        }
        for (const auto& warning : report.warnings)
            std::printf("注意: %s\n", qm::Utf16ToUtf8(warning).c_str());
        for (const auto& problem : report.problems)
            std::printf("問題: %s\n", qm::Utf16ToUtf8(problem).c_str());
        if (report.Consistent()) {
            std::puts("整合性に問題はありません / consistent");
            return 0;
        }
        std::printf("%zu 件の問題があります / inconsistent\n", report.problems.size());
        return 1;
    } catch (const qm::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}

const qm::cli::TCommandRegistration registration({
    "check",
    "[--strict] FILE  Accessデータベースの整合性を検査します / check an Access database "
    "for consistency (--strict: Accessが残す行数のずれや未解放ページも問題とし、テキストの"
    "索引のキーも行から作ったキーと照合します / also count the row-count drift and unreleased "
    "pages that Access leaves as problems, and compare text index keys with the keys rebuilt "
    "from their rows)",
    RunCheck,
});

}  // namespace
