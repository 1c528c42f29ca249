#include "project/project.h"

#include "project/ini_document.h"

namespace qm {

TProject::TProject(std::u16string excelFile, std::u16string excelSheet, std::u16string csvFile,
                   bool firstLineIsTitle)
    : ExcelFile(std::move(excelFile)),
      ExcelSheet(std::move(excelSheet)),
      CsvFile(std::move(csvFile)),
      FirstLineIsTitle(firstLineIsTitle) {}

void TProject::SaveToFile(const std::u16string& path) const {
    TIniDocument ini = TIniDocument::FromFile(path);
    ini.WriteInteger(u"SYSTEM", u"VERSION", 0);
    ini.WriteString(u"CONFIG", u"ExcelFile", ExcelFile);
    ini.WriteString(u"CONFIG", u"ExcelSheet", ExcelSheet);
    ini.WriteString(u"CONFIG", u"CsvFile", CsvFile);
    ini.WriteBool(u"CONFIG", u"FirstLineIsTitle", FirstLineIsTitle);
    ini.WriteString(u"CONFIG", u"Relation", RelationToText(Relation));
    ini.SaveToFile(path);
}

void TProject::LoadFromFile(const std::u16string& path) {
    TIniDocument ini = TIniDocument::FromFile(path);
    ExcelFile = ini.ReadString(u"CONFIG", u"ExcelFile", u"");
    ExcelSheet = ini.ReadString(u"CONFIG", u"ExcelSheet", u"");
    CsvFile = ini.ReadString(u"CONFIG", u"CsvFile", u"");
    FirstLineIsTitle = ini.ReadBool(u"CONFIG", u"FirstLineIsTitle", false);
    Relation.clear();
    Relation = TextToRelation(ini.ReadString(u"CONFIG", u"Relation", u""));
}

}  // namespace qm
