// Writing the appended rows of a .xls workbook to disk: the new file is built beside the
// workbook and renamed over it, so that the workbook holds either all the rows or none.
#pragma once

#include <atomic>
#include <string>

#include "platform/file_access.h"
#include "targets/xls/xls_append.h"
#include "targets/xls/xls_workbook.h"

namespace qm::xls {

// Writes the workbook with the appender's rows to 'path' through TAtomicFile, giving the user
// interface its turns. 'expected' is the file as it was read: the replace refuses, leaving the
// file as it is, when another program replaced it since. When 'cancel' is found set before the file
// is replaced, it stops, leaves the file as it was and throws Error(kCancelledMessage).
void WriteNewWorkbook(const TXlsWorkbook& book, const TXlsAppender& appender,
                      const std::u16string& path, const TFileIdentity& expected,
                      const std::atomic<bool>* cancel);

}  // namespace qm::xls
