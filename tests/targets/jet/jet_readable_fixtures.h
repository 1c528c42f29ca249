// The databases of the shared fixtures folder that the engine reads (the others are refused
// on purpose: Access 97, encrypted, protected by a password).
#pragma once

namespace qm::test {

inline constexpr const char* kReadableFixtures[] = {
    "DateTestDatabase.mdb",
    "V2016_bigint.accdb",
    "V2016_longtext.accdb",
    "V2016_withinsertedcol.accdb",
    "bigIndexTestV2003.mdb",
    "binIdxTestV2010.accdb",
    "calcFieldTestV2010.accdb",
    "compIndexTestV2003.mdb",
    "complexDataTestV2010.accdb",
    "delColTestV2003.mdb",
    "empty2019.accdb",
    "fixedNumericTestV2003.mdb",
    "fixedTextTestV2003.mdb",
    "hanbai-kanri_jp1041.accdb",
    "hanbai-kanri_jpdata_general.mdb",
    "indexTestV2003.mdb",
    "linkeeTest.accdb",
    "linkerTestV2007.accdb",
    "oldDatesV2007.accdb",
    "overflowTestV2003.mdb",
    "queryTestV2003.mdb",
    "sqlite3-links_jp1041.accdb",
    "test2V2003.mdb",
    "testIndexPropertiesV2003.mdb",
    "testUnicodeCompV2003.mdb",
    "testV2003.mdb",
    "testV2010.accdb",
};

}  // namespace qm::test
