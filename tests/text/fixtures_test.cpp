// The shared sample CSV files: each gets the verdict its known encoding calls for, and decodes
// without a single replacement character.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/file_stream.h"
#include "test_util.h"
#include "text/string_utility.h"

namespace qm {
namespace {

TEST(TextFixtures, VerdictPerFile) {
    QM_REQUIRE_FIXTURES();
    struct Case {
        const char* file;
        TDetectedEncoding encoding;
    } cases[] = {
        {"japanpost-KEN_ALL.CSV", deSJIS},
        {"takamatsu-0081-multiline-utf8bom.csv", deUTF8BOM},
        {"takamatsu-hospital-utf8-crlf.csv", deUTF8},
        {"takamatsu-0062-utf8bom-lf.csv", deUTF8BOM},
        {"takamatsu-elderly-welfare-utf8-mixednl.csv", deUTF8},
        {"takamatsu-0002-aed-cp932-excel.csv", deSJIS},
        {"takamatsu-0066_202304-population-sjis-excel.csv", deSJIS},
        {"yaizu-yohairyosya-cp932-multiline.csv", deSJIS},
        {"estat-c01-population-sjis.csv", deSJIS},
        {"japanese-river-infos-utf8bom-crlf.csv", deUTF8BOM},
        {"jma-obsdl-dl_data-sjis.csv", deSJIS},
        {"jma-eqdb-utf8bom-sections.csv", deUTF8BOM},
        {"ipadic-Noun.org-eucjp.csv", deEUC},
        {"hasida-README-iso2022jp.jis", deJIS},
        {"csvkit-ks_1033_data.csv", deNone},
        {"csvkit-census2000-determination_schema-cr.csv", deNone},
        {"csvkit-FY09_EDU_Recipients_by_State-crlf.csv", deNone},
        {"datasets-country-codes.csv", deUTF8},
        {"datasets-un-locode-country-codes.csv", deUTF8},
        {"csv-spectrum-quotes_and_newlines.csv", deNone},
    };
    const std::filesystem::path dir = test::FixturesDir() / "csv";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::filesystem::path path = dir / c.file;
        if (!std::filesystem::exists(path)) {
            ADD_FAILURE() << "fixture missing";
            continue;
        }
        TFileStream stream(path.u16string());
        TStreamText result = ReadStreamTextDetailed(stream);
        EXPECT_STREQ(DetectedEncodingName(result.encoding), DetectedEncodingName(c.encoding));
        EXPECT_EQ(std::count(result.text.begin(), result.text.end(), u'\uFFFD'), 0);
        EXPECT_FALSE(result.text.empty());
        EXPECT_NE(result.text.front(), u'\uFEFF');
    }
}

}  // namespace
}  // namespace qm
