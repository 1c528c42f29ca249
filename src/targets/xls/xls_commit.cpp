#include "targets/xls/xls_commit.h"

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/yield.h"
#include "targets/xls/cfb_writer.h"

namespace qm::xls {

namespace {

// The user interface's turn while the commit works, and the point where a cancel stops it.
void CommitTurn(const std::atomic<bool>* cancel) {
    ProcessMessages();
    if (cancel && cancel->load(std::memory_order_relaxed)) throw Error(kCancelledMessage);
}

}  // namespace

void WriteNewWorkbook(const TXlsWorkbook& book, const TXlsAppender& appender,
                      const std::u16string& path, const TFileIdentity& expected,
                      const std::atomic<bool>* cancel) {
    auto turn = [cancel] { CommitTurn(cancel); };
    std::string stream = appender.BuildStream(turn);
    TReplaceOptions options;
    options.Expected = &expected;
    TAtomicFile file(path, options);
    WriteCompoundFile(
        book.Compound(), book.WorkbookEntry(), stream,
        [&file](std::string_view bytes) { file.Write(bytes); }, turn);
    // The last moment a cancel is honoured: from here on the new file replaces the old.
    CommitTurn(cancel);
    file.Commit();
}

}  // namespace qm::xls
