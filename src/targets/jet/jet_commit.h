// Committing a transaction's pages, as the commit protocol of platform/commit_protocol.h with
// "write the new file" done as a copy of the database (a copy-on-write clone where the file
// system offers one) into which the changed and added pages are written. Until the rename the
// database is untouched; after it the new file is complete, so a crash leaves one or the
// other. While it writes, the commit leaves the lock file Access keeps beside a database it
// has open (NAME.ldb / NAME.laccdb), so that Access sees the database in use.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/file_access.h"
#include "targets/jet/jet_page_store.h"

namespace qm::jet {

struct TJetCommitStats {
    bool cloned = false;  // the copy was a copy-on-write clone
    std::uint64_t pagesWritten = 0;
};

// Gives the user interface its turn while it copies and writes; when `cancel` is found set
// before the rename, it leaves the database as it was and throws Error(kCancelledMessage).
// Throws Error naming the file for every failure (open in Access, read-only, hard-linked,
// owned by someone this process cannot give it back to, no longer the file `opened` describes,
// a full disk), always with the database unchanged.
TJetCommitStats CommitPages(const std::u16string& path, const TFileIdentity& opened,
                            const TJetPageStore& store, const std::atomic<bool>* cancel);

}  // namespace qm::jet
