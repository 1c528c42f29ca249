// How a user's file is replaced: the one commit protocol of every engine.
//
// An engine's commit is this protocol with one engine-specific step, "write the new file"
// (state 3), which the engine performs through the TAtomicFile it is given (a callback of
// ReplaceFile, or its own TAtomicFile's Write calls). Everything else (the lock, the checks, the
// temporary file, ownership, the rename, the clean-up) is done here and in file_system.cpp,
// target_lock.cpp, so that it is the same for .xlsx, .xls, .mdb and .accdb.
//
// "Write the new file" comes in two forms: the new content written whole and in order
// (TAtomicFile::Write: workbooks, settings), or, for a large file of which a commit changes a
// few parts (a database's pages), the old content copied into the temporary file first (a
// copy-on-write clone where the file system offers one) and then changed at offsets
// (TAtomicFile::CopyTarget, WriteAt, Resize). The copy is taken of the target as the engine
// read it and refused when the target is another file by then; every step after it is the same.
//
// Names, for a target folder/NAME (a symbolic link is resolved first: the file it points at is
// replaced and the link stays a link):
//   folder/.NAME.quillomat-lock          the writers' lock file (flock), kept only while held
//   folder/.NAME.quillomat-PID-XXXXXX    the new content while it is written (PID: the writer)
//   folder/.~lock.NAME#                  LibreOffice's lock file, left while a workbook is
//                                        written so that LibreOffice shows it as in use
//   folder/BASE.ldb, folder/BASE.laccdb  Access's lock file (for BASE.mdb, BASE.accdb), left
//                                        while a database is committed so that Access shows it
//                                        in use; its content marks it as ours
//
// States, in order. "Disk" is what a crash (kill -9, power cut) in that state leaves.
//
//   0 Opened      The engine read the target through TReadFile and keeps its identity (device,
//                 inode, size, modification time). Disk: the target as it was. Stale temporary
//                 files of this target (their PID's process is gone and nobody holds them) are
//                 removed when the target is opened.
//   1 Locked      TTargetLock holds an exclusive flock on the lock file: from the start of a
//                 transaction (or of a single row's append) to its end, no other Quillomat
//                 process writes this target; a second writer waits a few seconds, then fails
//                 naming the file. Under the lock the engine reads the target again if another
//                 writer replaced it meanwhile. Disk: the target; the lock file (harmless when
//                 left: a lock file nobody holds locks nothing).
//   2 Checked     The target is a regular file with one link, writable, in a writable folder,
//                 owned by a user and group this process can give the new file, and no other
//                 program's lock file (~$NAME, .~lock.NAME#, .ldb/.laccdb) is beside it.
//   3 Writing     The temporary file exists (mode 0600, flocked by the writer) and the engine
//                 writes the new content into it (or copies the target into it and patches
//                 it). Only this process sees it. Disk: the target
//                 unchanged; a partial temporary file, which the next opening removes.
//   4 Written     All content written and fsync'ed; the target's owner, group, mode, ACLs and
//                 extended attributes set on it. Disk: as in 3 (the temporary file complete).
//   5 Verified    Right before the rename, under the lock: the target on disk is still the
//                 file the engine read (same identity) and still has one link; else the
//                 protocol stops, removes the temporary file and leaves the target as it is.
//   6 Renamed     rename(temporary, target): atomic; every reader sees the old or the new file.
//                 Disk: the new file (durable once state 7 is reached).
//   7 Durable     The folder fsync'ed: the rename survives a power cut.
//   8 Released    LibreOffice's lock file removed (when it is still ours), the lock file
//                 removed while still held, then the lock released.
//
// Invariants:
//   - The target's bytes change only at the rename of state 6; every failure before it (a
//     full disk, a torn write, a failed fsync, a cancel, a changed target) leaves the target
//     byte for byte as it was and removes the temporary file.
//   - Nothing a crash leaves is mistaken for data: a temporary file is never renamed by anyone
//     but its writer, and stale ones are removed, never used.
//   - A commit never takes a file over: when the process cannot give the new file the old
//     one's owner, group and extended attributes it refuses before writing.
//   - A hard-linked target is refused (renaming would silently split the links).
#pragma once

#include <string_view>

namespace qm {

enum class TCommitState {
    Opened = 0,
    Locked = 1,
    Checked = 2,
    Writing = 3,
    Written = 4,
    Verified = 5,
    Renamed = 6,
    Durable = 7,
    Released = 8,
};

// The protocol's assertion: a commit that finds itself in another state than a step requires
// stops with an internal error before the target is touched (every assertion precedes the
// rename or concerns only clean-up).
void CommitAssert(bool holds, std::string_view what);

}  // namespace qm
