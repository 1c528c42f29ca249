// quillomat-cli import: the unattended import. The project comes from the program's own options
// (-e= -w= -c= -f= -r=, read by TProject::SetArguments exactly as the desktop program reads its
// command line) or from a project file, the options then overriding the file's values.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/command_target.h"
#include "csv/csv.h"
#include "platform/error.h"
#include "platform/file_access.h"
#include "platform/native_path.h"
#include "platform/system_code_page.h"
#include "platform/yield.h"
#include "project/project.h"
#include "targets/connection.h"
#include "targets/import_files.h"
#include "targets/import_run.h"
#include "targets/target_access.h"
#include "text/unicode.h"

namespace qm::cli {
namespace {

constexpr const char* kHelp =
    "使い方: quillomat-cli import [--project ファイル.QLM] [-e=登録先] [-w=ワークシート]\n"
    "                             [-c=CSVファイル] [-f=真偽値] [-r=関連付け] [--dry-run]\n"
    "Usage: quillomat-cli import [--project FILE.QLM] [-e=TARGET] [-w=SHEET] [-c=CSV]\n"
    "                            [-f=BOOL] [-r=RELATION] [--dry-run]\n"
    "\n"
    "CSVファイルの行を、Excelブックのワークシート(またはAccessデータベースのテーブル)に\n"
    "1つのトランザクションで追加します。すべての行が登録されるか、1行も登録されないかの\n"
    "どちらかです。オプションはQuillomat本体のコマンドラインと同じです(-f= は -1/0/True/\n"
    "False、-r= はプロジェクトファイルの Relation と同じ「フィールド名=列番号」の並び)。\n"
    "自動実行ファイルの引数をそのまま渡すこともできます(プログラムのパスと -a は無視します)。\n"
    "--project を付けるとプロジェクトファイルを読み、ほかのオプションでその値を上書きします。\n"
    "--dry-run は登録と同じ確認(型、長さ、キーの重複、必須項目など)をすべての行に行い、\n"
    "登録できない行をすべて表示します。ファイルには何も書き込みません。\n"
    "端末では標準エラーに進行状況を表示します。Ctrl-Cで取り消すと何も登録されません。\n"
    "\n"
    "Appends the rows of a CSV file to a worksheet of an Excel workbook (or a table of an\n"
    "Access database) in one transaction: every row or none. The options are those of the\n"
    "Quillomat program itself; the arguments of an auto-run script can be passed unchanged\n"
    "(the program path and -a are ignored). --project reads a project file; the other options\n"
    "override its values. --dry-run makes every check of a real import (types, sizes,\n"
    "duplicate keys, required fields, ...) on every row without writing, and lists every\n"
    "row that would fail. A progress bar goes to standard error when it is a terminal;\n"
    "Ctrl-C cancels, and nothing is written.\n"
    "\n"
    "終了コード / Exit status: 0 登録した / committed (--dry-run: 全行登録可能 / every row\n"
    "passes), 1 失敗して何も登録しなかった / failed, nothing written (--dry-run: 登録できない\n"
    "行がある / some rows fail), 2 引数の誤り / wrong arguments, 130 Ctrl-Cで取り消した /\n"
    "cancelled\n";

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

void PrintLine(std::FILE* stream, const std::u16string& text) {
    std::fprintf(stream, "%s\n", Utf16ToUtf8(text).c_str());
}

// ---- Ctrl-C ----
//
// The signal handler only raises a flag. The run sees it in its per-row turn for the user
// interface (ProcessMessages), which passes it on as the cancel request, the same way the
// desktop program's cancel button reaches a run.

std::atomic<bool> gInterrupted{false};
std::atomic<bool>* gCancelTarget = nullptr;

extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
}

class TInterruptScope {
  public:
    TInterruptScope() {
        struct sigaction action {};
        action.sa_handler = &OnInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previousInt_);
        ::sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~TInterruptScope() {
        ::sigaction(SIGINT, &previousInt_, nullptr);
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    TInterruptScope(const TInterruptScope&) = delete;
    TInterruptScope& operator=(const TInterruptScope&) = delete;

  private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

void PassInterruptOn() {
    if (gCancelTarget && gInterrupted.load(std::memory_order_relaxed)) gCancelTarget->store(true);
}

// ---- progress ----

class TProgressBar {
  public:
    TProgressBar() : enabled_(::isatty(STDERR_FILENO) == 1) {}
    ~TProgressBar() { Finish(); }
    TProgressBar(const TProgressBar&) = delete;
    TProgressBar& operator=(const TProgressBar&) = delete;

    void Show(std::uint32_t position, std::uint32_t maximum) {
        if (!enabled_ || maximum == 0) return;
        unsigned permille =
            static_cast<unsigned>(std::uint64_t{position} * 1000 / std::uint64_t{maximum});
        if (permille == permille_) return;
        auto now = std::chrono::steady_clock::now();
        if (position < maximum && now - drawn_ < std::chrono::milliseconds(100)) return;
        permille_ = permille;
        drawn_ = now;
        constexpr int kWidth = 40;
        int filled = static_cast<int>(permille * kWidth / 1000);
        std::fprintf(stderr, "\r[%.*s%*s] %3u.%u%% %u/%u", filled,
                     "########################################", kWidth - filled, "", permille / 10,
                     permille % 10, position, maximum);
        std::fflush(stderr);
        shown_ = true;
    }
    void Finish() {
        if (shown_) std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

  private:
    bool enabled_;
    bool shown_ = false;
    unsigned permille_ = ~0u;
    std::chrono::steady_clock::time_point drawn_{};
};

// ---- the steps ----

struct TOptions {
    std::optional<std::u16string> projectFile;
    std::vector<std::u16string> programOptions;
    bool dryRun = false;
};

// Returns false after printing what is wrong.
bool ParseOptions(const std::vector<std::string>& args, TOptions& options, bool& help) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--project" || arg.rfind("--project=", 0) == 0) {
            if (arg == "--project" && i + 1 == args.size()) {
                std::fputs(
                    "quillomat-cli import: --project にはファイル名が必要です / "
                    "--project needs a file name\n",
                    stderr);
                return false;
            }
            std::string file = arg == "--project" ? args[++i] : arg.substr(10);
            options.projectFile = FromNativePath(file);
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr,
                         "quillomat-cli import: 不明なオプションです / unknown option: %s\n",
                         arg.c_str());
            return false;
        } else {
            // The program's own options are text of the system's code page, as the auto-run
            // script writes them.
            options.programOptions.push_back(DecodeSystemText(arg));
        }
    }
    return true;
}

// The per-row turn of the run passes a Ctrl-C on as the cancel request while this lives.
class TCancelOnInterrupt {
  public:
    explicit TCancelOnInterrupt(std::atomic<bool>& cancel)
        : previousHook_(SetYieldHook(&PassInterruptOn)) {
        gCancelTarget = &cancel;
    }
    ~TCancelOnInterrupt() {
        gCancelTarget = nullptr;
        SetYieldHook(previousHook_);
    }
    TCancelOnInterrupt(const TCancelOnInterrupt&) = delete;
    TCancelOnInterrupt& operator=(const TCancelOnInterrupt&) = delete;

  private:
    TInterruptScope interrupts_;
    TYieldHook previousHook_;
};

int Import(TConnection& connection, TTable& table, const TProject& project, const TCsv* csv) {
    TImportRun run(connection, table);
    TProgressBar bar;
    run.OnProgress = [&bar](std::uint32_t position, std::uint32_t maximum) {
        bar.Show(position, maximum);
    };
    TImportResult result;
    {
        TCancelOnInterrupt cancel(run.CancelRequested);
        result = run.Run(csv, project.Relation, project.FirstLineIsTitle);
    }
    bar.Finish();
    if (result.Committed) {
        PrintLine(stdout, result.Message);
        std::fprintf(stdout, "%u 行 / rows\n", result.RowsInserted);
        return 0;
    }
    PrintLine(stderr, result.Message);
    return gInterrupted.load() && !result.Committed ? kExitInterrupted : kExitFailed;
}

int DryRun(TConnection& connection, TTable& table, const TProject& project, const TCsv* csv) {
    TProgressBar bar;
    TDryRunResult result;
    {
        TInterruptScope interrupts;
        result = DryRunImport(
            connection, table, csv, project.Relation, project.FirstLineIsTitle,
            [&](const TDryRunFailure& failure) {
                bar.Finish();
                std::printf("%llu行目: %s\n", static_cast<unsigned long long>(failure.Line),
                            Utf16ToUtf8(failure.Message).c_str());
            },
            &gInterrupted,
            [&bar](std::uint32_t position, std::uint32_t maximum) { bar.Show(position, maximum); });
    }
    bar.Finish();
    if (!result.CheckMessage.empty()) {
        PrintLine(stderr, result.CheckMessage);
        return kExitFailed;
    }
    if (result.Cancelled) {
        PrintLine(stderr, kImportCancelledMessage);
        return kExitInterrupted;
    }
    std::printf("%u 行を確認しました。登録できない行: %u 行 / %u rows checked, %u would fail\n",
                result.RowsChecked, result.RowsFailing, result.RowsChecked, result.RowsFailing);
    return result.RowsFailing == 0 ? 0 : kExitFailed;
}

int RunImport(const std::vector<std::string>& args) {
    TOptions options;
    bool help = false;
    if (!ParseOptions(args, options, help)) return kExitUsage;
    if (help || args.empty()) {
        std::fputs(kHelp, help ? stdout : stderr);
        return help ? 0 : kExitUsage;
    }
    gInterrupted.store(false);

    TProject project(u"", u"", u"", false);
    try {
        if (options.projectFile) {
            if (!PathExists(*options.projectFile))
                throw Error(u"プロジェクトファイルが見つかりません。\n" + *options.projectFile);
            RefuseIfNotRegularFile(*options.projectFile);
            project.LoadFromFile(*options.projectFile);
        }
    } catch (const Error& e) {
        PrintLine(stderr, e.Message());
        return kExitFailed;
    }
    try {
        project.SetArguments(options.programOptions);  // -a is ignored: importing is the point
    } catch (const Error& e) {
        PrintLine(stderr, e.Message());
        return kExitUsage;
    }

    try {
        TConnection connection;
        TTable table(connection);
        OpenImportTarget(project.ExcelFile, project.ExcelSheet, connection, table);
        std::unique_ptr<TCsv> csv = LoadImportCsv(project.CsvFile);
        return options.dryRun ? DryRun(connection, table, project, csv.get())
                              : Import(connection, table, project, csv.get());
    } catch (const Error& e) {
        PrintLine(stderr, e.Message());
        return kExitFailed;
    }
}

const TCommandRegistration kRegistration({
    "import",
    "[--project FILE.QLM] [-e= -w= -c= -f= -r=] [--dry-run]  CSVの行を登録先に追加 / "
    "append the rows of a CSV file to a worksheet or table",
    &RunImport,
});

}  // namespace
}  // namespace qm::cli
