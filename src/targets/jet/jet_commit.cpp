#include "targets/jet/jet_commit.h"

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/target_lock.h"
#include "platform/yield.h"

namespace qm::jet {
namespace {

void Turn(const std::atomic<bool>* cancel) {
    ProcessMessages();
    if (cancel && cancel->load(std::memory_order_relaxed)) throw Error(kCancelledMessage);
}

}  // namespace

TJetCommitStats CommitPages(const std::u16string& path, const TFileIdentity& opened,
                            const TJetPageStore& store, const std::atomic<bool>* cancel) {
    TJetCommitStats stats;
    // Said before anything is made beside the database.
    RefuseIfLockedByOtherProgram(path);
    const TDatabaseLockFile accessLock(path);
    TReplaceOptions options;
    options.Expected = &opened;
    TAtomicFile out(path, options);
    stats.cloned = out.CopyTarget([cancel] { Turn(cancel); });

    const std::uint64_t newSize = static_cast<std::uint64_t>(store.PageCount()) * kPageSize;
    if (newSize > out.Size()) out.Resize(newSize);
    std::uint64_t sinceTurn = 0;
    for (const auto& [page, bytes] : store.Changed()) {
        out.WriteAt(static_cast<std::uint64_t>(page) * kPageSize, bytes.get(), kPageSize);
        ++stats.pagesWritten;
        if (++sinceTurn == 256) {
            sinceTurn = 0;
            Turn(cancel);
        }
    }
    // The last moment a cancel is honoured: from here on the new file replaces the old.
    Turn(cancel);
    out.Commit();
    return stats;
}

}  // namespace qm::jet
