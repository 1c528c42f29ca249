// The counted disk operations behind TFileSystemFaults, shared by the reading and the writing
// halves of the file seam. Not for use outside src/platform.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace qm::fs_detail {

ssize_t CountedRead(int fd, void* data, std::size_t size, off_t offset);
// Returns MAP_FAILED with errno set when the planned fault or mmap fails.
void* CountedMap(int fd, std::size_t size);
ssize_t CountedWrite(int fd, const void* data, std::size_t size);
ssize_t CountedWriteAt(int fd, const void* data, std::size_t size, off_t offset);
// One write: a copy-on-write clone of 'from' into 'to' (FICLONE). Returns 0 when cloned, 1 when
// the file system has no clones (nothing written), -1 with errno set on failure.
int CountedClone(int to, int from);
// One write: copy_file_range of up to 'size' bytes at 'offset' in both files. Returns the bytes
// copied, 0 when the source ends or the kernel cannot copy between these files (errno then
// says which: 0 for the end), -1 with errno set on failure.
ssize_t CountedCopyRange(int from, int to, std::size_t size, off_t offset);
int CountedSync(int fd);
int CountedRename(const char* from, const char* to);

}  // namespace qm::fs_detail
