// Makes the empty .accdb table the Access import benchmarks append the CSV file of
// bench/import-data.sh to: its ten fields carry the CSV's column names and types.
//   make_access_target OUT.accdb autonumber   an AutoNumber primary key 「ID」 and an index
//                                             on the Long Integer 「整数」
//   make_access_target OUT.accdb textkey      a Short Text primary key 「番号」 and an index
//                                             on the Short Text 「名称」 (kanji and kana names,
//                                             General legacy sort order)
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "targets/jet/jet_builder.h"

int main(int argc, char** argv) {
    using namespace qm::jet;
    const bool textKey = argc == 3 && std::strcmp(argv[2], "textkey") == 0;
    if (argc != 3 || (!textKey && std::strcmp(argv[2], "autonumber") != 0)) {
        std::fprintf(stderr, "usage: make_access_target OUT.accdb autonumber|textkey\n");
        return 2;
    }
    std::vector<TBuildColumn> columns;
    if (!textKey) columns.push_back({u"ID", kTypeLong, 0, true});
    columns.push_back(textKey ? TBuildColumn{u"番号", kTypeText, 20} : TBuildColumn{u"番号"});
    columns.push_back({u"整数", kTypeLong});
    columns.push_back({u"金額", kTypeCurrency});
    columns.push_back({u"日付", kTypeDateTime});
    for (const char16_t* name : {u"英字", u"名称", u"カナ", u"備考英字", u"備考"})
        columns.push_back({name, kTypeText, 255});
    columns.push_back({u"金額2", kTypeDouble});

    std::vector<TBuildIndex> indexes;
    if (textKey) {
        indexes.push_back({u"PrimaryKey", {0}, true, true});
        indexes.push_back({u"名称", {5}});
    } else {
        indexes.push_back({u"PrimaryKey", {0}, true, true});
        indexes.push_back({u"整数", {2}});
    }
    TJetBuilder builder({{u"Data", std::move(columns), std::move(indexes)}}, TBuildFormat::Ace12);
    const std::string bytes = builder.Finish();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "make_access_target: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
