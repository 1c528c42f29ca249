// Committing a transaction's pages: the database is cloned beside itself (a copy-on-write
// clone where the file system offers one, else a copy), the changed and added pages are
// written into the clone, and the clone is flushed and renamed over the database. Until the
// rename the database is untouched; after it the new file is complete, so a crash leaves one
// or the other. While it writes, the commit holds the lock file Access keeps beside a database
// it has open (name.ldb / name.laccdb).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "targets/jet/jet_page_store.h"

namespace qm::jet {

struct TJetCommitStats {
    bool cloned = false;  // the copy was a copy-on-write clone
    std::uint64_t pagesWritten = 0;
};

// The file as it was when the engine opened it; a commit refuses a file that changed since.
struct TJetFileIdentity {
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds
    static TJetFileIdentity Of(const std::u16string& path);
    bool operator==(const TJetFileIdentity&) const = default;
};

// Gives the user interface its turn while it copies and writes; when `cancel` is found set
// before the rename, it leaves the database as it was and throws Error(kCancelledMessage).
// Throws Error naming the file for every failure (locked by Access, read-only, changed since
// it was opened, a full disk), always with the database unchanged.
TJetCommitStats CommitPages(const std::u16string& path, const TJetFileIdentity& opened,
                            const TJetPageStore& store, const std::atomic<bool>* cancel);

}  // namespace qm::jet
