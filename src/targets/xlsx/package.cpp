#include "targets/xlsx/package.h"

#include <algorithm>

#include "platform/error.h"
#include "targets/xlsx/ooxml_names.h"
#include "targets/xlsx/xml_reader.h"
#include "targets/xlsx/zip_xml_input.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

// Parts read whole are small in every real workbook; the cap keeps a zip bomb from eating
// memory. Shared strings are streamed and capped separately.
constexpr std::uint64_t kSmallPartLimit = 256u << 20;
constexpr std::uint64_t kSharedStringsLimit = 2048ull << 20;

std::string_view TypeTail(std::string_view type) {
    std::size_t slash = type.rfind('/');
    return slash == std::string_view::npos ? type : type.substr(slash + 1);
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// "Sheet1!$A$1:$C$10" or "'My ''Sheet'''!$A$1" into sheet name and area; false for anything
// else (several areas, functions, external references, whole rows or columns).
bool SplitAreaFormula(std::string_view formula, std::string& sheet, TAreaRef& area) {
    std::size_t i = 0;
    sheet.clear();
    if (!formula.empty() && formula[0] == '\'') {
        i = 1;
        for (;;) {
            if (i >= formula.size()) return false;
            if (formula[i] == '\'') {
                if (i + 1 < formula.size() && formula[i + 1] == '\'') {
                    sheet += '\'';
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            sheet += formula[i++];
        }
        if (i >= formula.size() || formula[i] != '!') return false;
    } else {
        std::size_t bang = formula.find('!');
        if (bang == std::string_view::npos) return false;
        sheet.assign(formula.substr(0, bang));
        if (sheet.empty() || sheet.find_first_of("[]'(),\" ") != std::string::npos) return false;
        i = bang;
    }
    std::string_view ref = formula.substr(i + 1);
    if (!ParseAreaRef(ref, area)) return false;
    return area.First.Row > 0 && area.First.Column > 0 && area.Last.Row > 0 && area.Last.Column > 0;
}

bool IsTrue(std::string_view value) {
    return value == "1" || value == "true";
}

}  // namespace

std::string ResolvePartName(std::string_view sourcePart, std::string_view target) {
    std::string path;
    if (!target.empty() && target.front() == '/') {
        path.assign(target.substr(1));
    } else {
        std::size_t slash = sourcePart.rfind('/');
        path = slash == std::string_view::npos ? std::string()
                                               : std::string(sourcePart.substr(0, slash + 1));
        path.append(target);
    }
    // Remove "." and ".." segments.
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        std::string segment = path.substr(start, slash - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = slash + 1;
    }
    std::string result;
    for (const std::string& s : segments)
        result += (result.empty() ? "" : "/") + s;
    return result;
}

std::u16string UnescapeOoxml(std::u16string_view text) {
    if (text.find(u"_x") == std::u16string_view::npos &&
        text.find(u"_X") == std::u16string_view::npos)
        return std::u16string(text);
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'_' && i + 6 < text.size() &&
            (text[i + 1] == u'x' || text[i + 1] == u'X') && text[i + 6] == u'_') {
            int value = 0;
            bool ok = true;
            for (std::size_t k = 2; k < 6 && ok; ++k) {
                int h = HexValue(text[i + k]);
                ok = h >= 0;
                value = value * 16 + h;
            }
            if (ok) {
                out += static_cast<char16_t>(value);
                i += 6;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

TPackage::TPackage(std::shared_ptr<const TByteSource> source) : archive_(std::move(source)) {
    const std::u16string& file = FileName();
    for (const TRelationship& rel : Relationships("")) {
        if (rel.Type == "officeDocument") {
            workbookPart_ = rel.Target;
            break;
        }
    }
    if (workbookPart_.empty()) {
        if (archive_.Find("xl/workbook.xml"))
            workbookPart_ = "xl/workbook.xml";
        else if (archive_.Find("xl/workbook.bin"))
            throw Error(u"Excel バイナリ ブック（.xlsb）には対応していません。\n" + file);
        else
            throw Error(u"Excel ブックではありません（ブックの部品が見つかりません）。\n" + file);
    }
    if (workbookPart_.size() >= 4 && workbookPart_.substr(workbookPart_.size() - 4) == ".bin")
        throw Error(u"Excel バイナリ ブック（.xlsb）には対応していません。\n" + file);
    if (!archive_.Find(workbookPart_))
        throw Error(u"Excel ブックではありません（ブックの部品が見つかりません）。\n" + file);
    ReadWorkbook();
}

std::string TPackage::ReadPart(std::string_view name, std::uint64_t limit) const {
    const TZipEntry* entry = archive_.Find(name);
    if (!entry) FailCorrupt(FileName(), u"部品「" + Utf8ToUtf16(name) + u"」がありません");
    return archive_.ReadAll(*entry, limit);
}

std::vector<TPackage::TRelationship> TPackage::Relationships(std::string_view partName) const {
    std::size_t slash = partName.rfind('/');
    std::string relsName = slash == std::string_view::npos
                               ? "_rels/" + std::string(partName) + ".rels"
                               : std::string(partName.substr(0, slash + 1)) + "_rels/" +
                                     std::string(partName.substr(slash + 1)) + ".rels";
    std::vector<TRelationship> result;
    const TZipEntry* entry = archive_.Find(relsName);
    if (!entry) return result;
    std::string xml = archive_.ReadAll(*entry, kSmallPartLimit);
    TXmlReader reader(xml, FileName(), relsName);
    std::string id, type, target, mode;
    while (reader.Next() != TXmlReader::TToken::End) {
        if (reader.Token() != TXmlReader::TToken::StartElement || reader.Depth() == 1) continue;
        if (reader.Depth() != 2 || reader.LocalName() != "Relationship" ||
            !InNamespace(reader, kPackageRelationshipsNs)) {
            reader.SkipElement();
            continue;
        }
        if (!reader.Attribute("Id", id) || !reader.Attribute("Type", type) ||
            !reader.Attribute("Target", target))
            continue;
        if (reader.Attribute("TargetMode", mode) && mode == "External") continue;
        result.push_back({id, std::string(TypeTail(type)), ResolvePartName(partName, target)});
    }
    return result;
}

void TPackage::ReadWorkbook() {
    const std::u16string& file = FileName();
    std::vector<TRelationship> rels = Relationships(workbookPart_);
    std::string xml = ReadPart(workbookPart_, kSmallPartLimit);
    TXmlReader reader(xml, file, workbookPart_);
    std::string value, id;
    // Only the root's children and the entries of <sheets> and <definedNames> count; whatever
    // else there is (views, extension lists, markup-compatibility blocks) is skipped whole.
    enum class TSection { None, Sheets, DefinedNames } section = TSection::None;
    while (reader.Next() != TXmlReader::TToken::End) {
        if (reader.Token() == TXmlReader::TToken::EndElement) {
            if (reader.Depth() == 1) section = TSection::None;
            continue;
        }
        if (reader.Token() != TXmlReader::TToken::StartElement) continue;
        if (reader.Depth() == 1) {
            if (reader.NamespaceUri() == kStrictSpreadsheetMlNs)
                throw Error(
                    u"Strict Open XML 形式のブックには対応していません。"
                    u"Excel で「Excel ブック (*.xlsx)」として保存し直してください。\n" +
                    file);
            if (!IsSheetElement(reader, "workbook"))
                FailCorrupt(file, u"ブックの部品の形式が不正です");
        } else if (reader.Depth() == 2) {
            if (IsSheetElement(reader, "sheets")) {
                section = TSection::Sheets;
            } else if (IsSheetElement(reader, "definedNames")) {
                section = TSection::DefinedNames;
            } else {
                if (IsSheetElement(reader, "workbookPr"))
                    date1904_ = reader.Attribute("date1904", value) && IsTrue(value);
                reader.SkipElement();
            }
        } else if (reader.Depth() == 3 && section == TSection::Sheets &&
                   IsSheetElement(reader, "sheet")) {
            TSheetInfo sheet;
            if (!reader.Attribute("name", value)) FailCorrupt(file, u"シート名がありません");
            sheet.Name = Utf8ToUtf16(value);
            id.clear();
            RelationshipId(reader, id);
            sheet.Worksheet = false;
            for (const TRelationship& rel : rels) {
                if (rel.Id == id) {
                    sheet.PartName = rel.Target;
                    sheet.Worksheet = rel.Type == "worksheet";
                }
            }
            if (sheet.Worksheet && !archive_.Find(sheet.PartName))
                FailCorrupt(file, u"シート「" + sheet.Name + u"」の部品がありません");
            sheets_.push_back(std::move(sheet));
            reader.SkipElement();
        } else if (reader.Depth() == 3 && section == TSection::DefinedNames &&
                   IsSheetElement(reader, "definedName")) {
            TDefinedName name;
            if (!reader.Attribute("name", value)) {
                reader.SkipElement();
                continue;
            }
            name.Name = Utf8ToUtf16(value);
            if (reader.Attribute("localSheetId", value)) {
                name.LocalSheet = -2;  // an index that names no sheet
                if (!value.empty() && value.size() < 6 &&
                    value.find_first_not_of("0123456789") == std::string::npos)
                    name.LocalSheet = std::stoi(value);
            }
            name.Hidden = reader.Attribute("hidden", value) && IsTrue(value);
            if (reader.SelfClosing()) {
                name.TextStart = name.TextEnd = reader.TokenEnd();
                reader.Next();
            } else {
                name.TextStart = reader.TokenEnd();
                name.Formula = reader.ReadElementText();
                name.TextEnd = reader.TokenStart();
            }
            names_.push_back(std::move(name));
        } else {
            reader.SkipElement();
        }
    }
    // Resolve area formulas to worksheets.
    for (TDefinedName& name : names_) {
        std::string sheet;
        if (!SplitAreaFormula(name.Formula, sheet, name.Area)) continue;
        std::u16string sheet16 = Utf8ToUtf16(sheet);
        for (std::size_t i = 0; i < sheets_.size(); ++i) {
            if (sheets_[i].Worksheet && sheets_[i].Name == sheet16)
                name.AreaSheet = static_cast<int>(i);
        }
    }
    if (sheets_.empty()) FailCorrupt(file, u"シートがありません");

    for (const TRelationship& rel : rels) {
        if (rel.Type == "sharedStrings" && archive_.Find(rel.Target))
            ReadSharedStrings(rel.Target);
        else if (rel.Type == "styles" && archive_.Find(rel.Target)) {
            stylesPart_ = rel.Target;
            ReadStyles(rel.Target);
        }
    }
}

void TPackage::ReadSharedStrings(const std::string& part) {
    const TZipEntry* entry = archive_.Find(part);
    if (entry->UncompressedSize > kSharedStringsLimit)
        FailCorrupt(FileName(), u"共有文字列の部品が大きすぎます");
    TZipXmlInput input(archive_, *entry);
    TXmlReader reader(input, FileName(), part);
    // <sst><si> holds the text in <t>, or in the <t> of each rich-text run <r>; the phonetic
    // guides (<rPh>, <phoneticPr>) and anything else are skipped.
    bool inText = false;
    while (reader.Next() != TXmlReader::TToken::End) {
        switch (reader.Token()) {
            case TXmlReader::TToken::StartElement: {
                int depth = reader.Depth();
                if (depth == 1) continue;
                if (depth == 2 && IsSheetElement(reader, "si")) {
                    stringOffsets_.push_back(strings_.size());
                } else if ((depth == 3 || depth == 4) && IsSheetElement(reader, "t")) {
                    inText = true;
                } else if (depth != 3 || !IsSheetElement(reader, "r")) {
                    reader.SkipElement();
                }
                break;
            }
            case TXmlReader::TToken::EndElement:
                inText = false;
                break;
            case TXmlReader::TToken::Text:
                if (inText) strings_ += reader.Text();
                break;
            case TXmlReader::TToken::End:
                break;
        }
    }
}

std::u16string TPackage::SharedString(std::size_t index) const {
    if (index >= stringOffsets_.size())
        FailCorrupt(FileName(),
                    u"共有文字列の番号 " + Utf8ToUtf16(std::to_string(index)) + u" が範囲外です");
    std::uint64_t begin = stringOffsets_[index];
    std::uint64_t end =
        index + 1 < stringOffsets_.size() ? stringOffsets_[index + 1] : strings_.size();
    return UnescapeOoxml(Utf8ToUtf16(std::string_view(strings_).substr(begin, end - begin)));
}

void TPackage::ReadStyles(const std::string& part) {
    std::string xml = ReadPart(part, kSmallPartLimit);
    TXmlReader reader(xml, FileName(), part);
    std::vector<std::pair<std::uint32_t, std::string>> formats;
    std::string value, code;
    std::int64_t preferred = -1;
    // Number formats are <styleSheet><numFmts><numFmt>, cell styles <styleSheet><cellXfs><xf>;
    // the <numFmt> of differential formats (<dxfs>) and everything else are skipped.
    enum class TSection { None, NumFmts, CellXfs } section = TSection::None;
    while (reader.Next() != TXmlReader::TToken::End) {
        if (reader.Token() == TXmlReader::TToken::EndElement) {
            if (reader.Depth() == 1) section = TSection::None;
            continue;
        }
        if (reader.Token() != TXmlReader::TToken::StartElement || reader.Depth() == 1) continue;
        if (reader.Depth() == 2) {
            if (IsSheetElement(reader, "numFmts"))
                section = TSection::NumFmts;
            else if (IsSheetElement(reader, "cellXfs"))
                section = TSection::CellXfs;
            else
                reader.SkipElement();
            continue;
        }
        if (section == TSection::NumFmts && IsSheetElement(reader, "numFmt")) {
            if (reader.Attribute("numFmtId", value) && reader.Attribute("formatCode", code)) {
                std::uint32_t id =
                    static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
                formats.emplace_back(id, code);
            }
        } else if (section == TSection::CellXfs && IsSheetElement(reader, "xf")) {
            std::uint32_t id =
                reader.Attribute("numFmtId", value)
                    ? static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10))
                    : 0;
            std::string_view formatCode;
            for (const auto& f : formats)
                if (f.first == id) formatCode = f.second;
            TStyleKind kind = ClassifyNumberFormat(id, formatCode);
            if (kind == TStyleKind::Date) {
                if (dateStyle_ < 0) dateStyle_ = static_cast<std::int64_t>(styleKinds_.size());
                if (preferred < 0 && (id == 14 || id == 22))
                    preferred = static_cast<std::int64_t>(styleKinds_.size());
            }
            styleKinds_.push_back(kind);
            if (styleKinds_.size() > 10000000) FailCorrupt(FileName(), u"セルの書式が多すぎます");
        }
        reader.SkipElement();
    }
    if (preferred >= 0) dateStyle_ = preferred;
}

}  // namespace qm::xlsx
