// The LvProp property blob: names, table and column chunks, and damaged blobs.
#include "targets/jet/jet_properties.h"

#include <gtest/gtest.h>

#include "platform/little_endian.h"

namespace qm::jet {
namespace {

void AddText(std::string& s, std::u16string_view text) {
    for (const char16_t c : text)
        PutU16(s, c);
}

// Names "Format", "ResultType"; the table has Format = "x"; column 価格 has ResultType = 5.
std::string SampleBlob() {
    std::string names;
    for (std::u16string_view name : {u"Format", u"ResultType"}) {
        PutU16(names, static_cast<std::uint32_t>(name.size() * 2));
        AddText(names, name);
    }
    auto chunk = [](std::uint16_t type, std::u16string_view object, std::uint16_t nameIndex,
                    std::string value) {
        std::string body;
        PutU32(body, static_cast<std::uint32_t>(6 + object.size() * 2));
        PutU16(body, static_cast<std::uint32_t>(object.size() * 2));
        AddText(body, object);
        PutU16(body, static_cast<std::uint32_t>(8 + value.size()));
        body.push_back(0);
        body.push_back(static_cast<char>(value.size() == 1 ? 2 : 10));
        PutU16(body, nameIndex);
        PutU16(body, static_cast<std::uint32_t>(value.size()));
        body += value;
        std::string out;
        PutU32(out, static_cast<std::uint32_t>(6 + body.size()));
        PutU16(out, type);
        return out + body;
    };
    std::string blob("MR2\0", 4);
    PutU32(blob, static_cast<std::uint32_t>(6 + names.size()));
    PutU16(blob, 0x80);
    blob += names;
    blob += chunk(0x00, u"商品", 0, std::string("x\0", 2));
    blob += chunk(0x01, u"価格", 1, std::string(1, '\x05'));
    return blob;
}

TJetProperties Parse(const std::string& blob) {
    return ParseProperties({reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()});
}

TEST(JetProperties, ReadsTableAndColumnProperties) {
    const TJetProperties p = Parse(SampleBlob());
    EXPECT_EQ(p.table.at(u"Format"), std::string("x\0", 2));
    EXPECT_EQ(p.columns.at(u"価格").at(u"ResultType"), std::string(1, '\x05'));
}

TEST(JetProperties, DamagedBlobsGiveWhatCanBeRead) {
    const std::string blob = SampleBlob();
    for (std::size_t size = 0; size < blob.size(); ++size)
        Parse(blob.substr(0, size));  // never reads past the end (ASan watches)
    EXPECT_TRUE(Parse("KKD").columns.empty());
    std::string broken = blob;
    broken[8] = 0x7F;  // the name chunk's type becomes unknown: no names, no values
    EXPECT_TRUE(Parse(broken).columns.at(u"価格").empty());
}

}  // namespace
}  // namespace qm::jet
