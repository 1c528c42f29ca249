#include "targets/import_files.h"

#include "platform/error.h"
#include "platform/file_access.h"
#include "targets/target_access.h"

namespace qm {

std::u16string SheetNotFoundMessage(const std::u16string& sheet,
                                    const std::vector<std::u16string>& names,
                                    const std::u16string& file) {
    std::u16string listed;
    for (const std::u16string& name : names)
        listed += (listed.empty() ? u"" : u"、") + name;
    return u"ワークシートまたはテーブル「" + sheet + u"」が見つかりません（あるもの: " + listed +
           u"）。\n" + file;
}

void OpenImportTarget(const std::u16string& file, const std::u16string& sheet,
                      TConnection& connection, TTable& table) {
    if (file.empty())
        throw Error(u"登録先のExcelブックまたはAccessデータベースを指定してください（-e=）。");
    connection.SetConnectionString(GetConnectionString(file));
    connection.Open();
    std::vector<std::u16string> names;
    connection.GetTableNames(names, false);
    bool found = false;
    for (const std::u16string& name : names)
        found = found || name == sheet;
    if (!found) throw Error(SheetNotFoundMessage(sheet, names, file));
    table.SetTableName(u"[" + sheet + u"]");
    table.Open();
}

std::unique_ptr<TCsv> LoadImportCsv(const std::u16string& path) {
    if (path.empty()) return nullptr;
    if (!PathExists(path)) throw Error(u"指定されたCSVファイルが見つかりませんでした。\n" + path);
    RefuseIfNotRegularFile(path);
    auto csv = std::make_unique<TCsv>();
    if (!csv->LoadFromFile(path)) throw Error(u"CSVファイルの読み込みに失敗しました。\n" + path);
    return csv;
}

}  // namespace qm
