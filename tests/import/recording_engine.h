// A test engine for the connection/table layer that keeps its rows in memory and records what
// the layer asks of it, so that the inserter's and the import run's rules can be checked row by
// row and call by call. It stands for no file format: the layer finds it by its own provider
// name, and the file it names only has to exist.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "targets/engine.h"

namespace qm::test {

struct TRecordingStore {
    std::vector<TFieldDef> Fields;
    std::vector<std::vector<TValue>> Committed;  // rows made permanent
    std::vector<std::vector<TValue>> Pending;    // rows of the open transaction
    int Begins = 0, Commits = 0, Rollbacks = 0, Appends = 0;
    bool InTransaction = false;
    // Refuse the row with this 0-based append count (-1: refuse none), or fail the commit.
    int RefuseAppend = -1;
    bool FailCommit = false;
    // The table takes no rows at all, as a format the engine cannot write.
    bool TakesNoRows = false;
};

// The store behind a data source path; created empty on first use.
TRecordingStore& RecordingStore(const std::u16string& dataSource);
void ForgetRecordingStores();

// The connection string that reaches the store of 'path' (the file must exist).
std::u16string RecordingConnectionString(const std::u16string& path);

}  // namespace qm::test
