// Our reader against two independent ones, mdbtools (mdb-tables, mdb-export) and the npm
// package mdb-reader, on every readable sample database: table lists, column names and every
// row (see jet_independent_readers.h for the rules of the comparison).
#include <gtest/gtest.h>

#include "jet_independent_readers.h"
#include "jet_readable_fixtures.h"

namespace qm::jet {
namespace {

TEST(JetReaders, AgreeWithMdbToolsAndMdbReader) {
    QM_REQUIRE_FIXTURES();
    const std::string missing = readers::MissingReaders();
    if (!missing.empty()) GTEST_SKIP() << missing;
    std::size_t cellsCompared = 0;
    for (const char* name : test::kReadableFixtures) {
        SCOPED_TRACE(name);
        const std::string path = (test::FixturesDir() / "access" / name).string();
        cellsCompared += readers::ExpectReadersAgree(path, name);
    }
    EXPECT_GT(cellsCompared, 10000u);
}

}  // namespace
}  // namespace qm::jet
