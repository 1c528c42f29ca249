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
int CountedSync(int fd);
int CountedRename(const char* from, const char* to);

}  // namespace qm::fs_detail
