#include "app/unattended_start.h"

#include <signal.h>

#include <atomic>
#include <memory>

#include "app/error_handler.h"
#include "csv/csv.h"
#include "grids/qt_text.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "platform/yield.h"
#include "project/project.h"
#include "targets/connection.h"
#include "targets/import_files.h"
#include "targets/import_run.h"
#include "targets/target_access.h"
#include "text/unicode.h"

namespace qm {

namespace {

constexpr int kExitCommitted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitWrongOption = 2;
constexpr int kExitInterrupted = 130;
// Progress is written every tenth of the rows.
constexpr std::uint32_t kProgressSteps = 10;

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return text;
}

bool IsOption(const std::u16string& argument) {
    if (Lower(argument) == u"-a") return true;
    const std::u16string name = Lower(argument.substr(0, 3));
    for (const char16_t* option : {u"-e=", u"-w=", u"-c=", u"-f=", u"-r="})
        if (name == option) return true;
    return false;
}

// ---- SIGINT and SIGTERM cancel the run, as Ctrl-C does in the command-line import.

std::atomic<bool> gInterrupted{false};
std::atomic<bool>* gCancel = nullptr;

extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
}

// The run's per-row turn passes an interrupt on as its cancel request.
void PassInterruptOn() {
    if (gCancel != nullptr && gInterrupted.load(std::memory_order_relaxed)) gCancel->store(true);
}

class TInterruptsCancel {
  public:
    explicit TInterruptsCancel(std::atomic<bool>& cancel)
        : previousHook_(SetYieldHook(&PassInterruptOn)) {
        gCancel = &cancel;
        struct sigaction action {};
        action.sa_handler = &OnInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previousInt_);
        ::sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~TInterruptsCancel() {
        ::sigaction(SIGINT, &previousInt_, nullptr);
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
        gCancel = nullptr;
        SetYieldHook(previousHook_);
    }
    TInterruptsCancel(const TInterruptsCancel&) = delete;
    TInterruptsCancel& operator=(const TInterruptsCancel&) = delete;

  private:
    TYieldHook previousHook_;
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

void Print(std::FILE* messages, const std::u16string& text) {
    std::fprintf(messages, "%s\n", Utf16ToUtf8(text).c_str());
    std::fflush(messages);
}

// Reports a failure on the stream and in error.log; returns the status.
int Fail(std::FILE* messages, const std::u16string& text, int status) {
    Print(messages, text);
    AppendErrorLog(ToQString(text));
    return status;
}

}  // namespace

std::vector<std::u16string> ProgramArguments(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(FromNativePath(argv[i]));
    return arguments;
}

bool IsUnattendedStart(const std::vector<std::u16string>& arguments) {
    if (arguments.size() < 3) return false;
    for (std::size_t i = 1; i < arguments.size(); ++i)
        if (Lower(arguments[i]) == u"-a") return true;
    return false;
}

bool IsProjectFileStart(const std::vector<std::u16string>& arguments) {
    return arguments.size() == 2 && !arguments[1].empty() && !IsOption(arguments[1]);
}

int RunHeadlessImport(const std::vector<std::u16string>& arguments, std::FILE* messages) {
    TProject project(u"", u"", u"", false);
    try {
        project.SetArguments({arguments.begin() + 1, arguments.end()});
    } catch (const Error& error) {
        return Fail(messages, error.Message(), kExitWrongOption);
    }
    try {
        TConnection connection;
        TTable table(connection);
        OpenImportTarget(project.ExcelFile, project.ExcelSheet, connection, table);
        const std::unique_ptr<TCsv> csv = LoadImportCsv(project.CsvFile);
        Print(messages, u"登録を開始します: " + project.CsvFile + u" → " + project.ExcelFile +
                            u" [" + project.ExcelSheet + u"]");

        TImportRun run(connection, table);
        std::uint32_t nextStep = 1;
        run.OnProgress = [&](std::uint32_t position, std::uint32_t maximum) {
            if (maximum == 0 || position == 0) return;
            if (std::uint64_t{position} * kProgressSteps < std::uint64_t{nextStep} * maximum)
                return;
            nextStep =
                static_cast<std::uint32_t>(std::uint64_t{position} * kProgressSteps / maximum) + 1;
            std::fprintf(messages, "%u / %u 行\n", position, maximum);
            std::fflush(messages);
        };
        gInterrupted.store(false);
        TImportResult result;
        {
            const TInterruptsCancel interrupts(run.CancelRequested);
            result = run.Run(csv.get(), project.Relation, project.FirstLineIsTitle);
        }
        if (result.Committed) {
            Print(messages, result.Message + u"（" +
                                Utf8ToUtf16(std::to_string(result.RowsInserted)) + u" 行）");
            return kExitCommitted;
        }
        return Fail(messages, result.Message, gInterrupted.load() ? kExitInterrupted : kExitFailed);
    } catch (const Error& error) {
        return Fail(messages, error.Message(), kExitFailed);
    }
}

}  // namespace qm
