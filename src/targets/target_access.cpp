#include "targets/target_access.h"

#include <array>

#include "targets/connection.h"

namespace qm {

namespace {

// ASCII upper-casing is enough here: the extensions compared against are ASCII, and no other
// letter upper-cases to one of their letters in the locales the program runs in.
std::u16string UpperAscii(std::u16string_view text) {
    std::u16string upper(text);
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return upper;
}

constexpr std::array<const char16_t*, 52> kEnumeratorNames = {
    u"ftUnknown",      u"ftString",      u"ftSmallint", u"ftInteger",       u"ftWord",
    u"ftBoolean",      u"ftFloat",       u"ftCurrency", u"ftBCD",           u"ftDate",
    u"ftTime",         u"ftDateTime",    u"ftBytes",    u"ftVarBytes",      u"ftAutoInc",
    u"ftBlob",         u"ftMemo",        u"ftGraphic",  u"ftFmtMemo",       u"ftParadoxOle",
    u"ftDBaseOle",     u"ftTypedBinary", u"ftCursor",   u"ftFixedChar",     u"ftWideString",
    u"ftLargeint",     u"ftADT",         u"ftArray",    u"ftReference",     u"ftDataSet",
    u"ftOraBlob",      u"ftOraClob",     u"ftVariant",  u"ftInterface",     u"ftIDispatch",
    u"ftGuid",         u"ftTimeStamp",   u"ftFMTBcd",   u"ftFixedWideChar", u"ftWideMemo",
    u"ftOraTimeStamp", u"ftOraInterval", u"ftLongWord", u"ftShortint",      u"ftByte",
    u"ftExtended",     u"ftConnection",  u"ftParams",   u"ftStream",        u"ftTimeStampOffset",
    u"ftObject",       u"ftSingle",
};

}  // namespace

int GetTargetKind(std::u16string_view fileName) {
    std::size_t slash = fileName.rfind(u'/');
    std::u16string_view name =
        slash == std::u16string_view::npos ? fileName : fileName.substr(slash + 1);
    std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos) return kTargetUnknown;
    std::u16string extension = UpperAscii(name.substr(dot));
    if (extension == u".XLS") return kTargetXls;
    if (extension == u".XLSX") return kTargetXlsx;
    if (extension == u".MDB") return kTargetMdb;
    if (extension == u".ACCDB") return kTargetAccdb;
    return kTargetUnknown;
}

std::u16string GetConnectionString(std::u16string_view fileName) {
    const char16_t* prefix = nullptr;
    const char16_t* suffix = nullptr;
    switch (GetTargetKind(fileName)) {
        case kTargetXls:
            prefix = u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
            suffix = u";Extended Properties=\"EXCEL 8.0;HDR=Yes;\"";
            break;
        case kTargetXlsx:
            prefix = u"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=";
            suffix = u";Extended Properties=\"EXCEL 12.0;HDR=Yes\"";
            break;
        case kTargetMdb:
            prefix = u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
            suffix = u";Persist Security Info=False";
            break;
        case kTargetAccdb:
            prefix = u"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=";
            suffix = u";Persist Security Info=False";
            break;
        default:
            return {};
    }
    std::u16string result(prefix);
    result.append(fileName);
    result.append(suffix);
    return result;
}

std::u16string GetFieldTypeName(int dataType) {
    switch (dataType) {
        case ftString:
        case ftWideString:
            return u"テキスト型";
        case ftSmallint:
        case ftInteger:
            return u"数値型";
        case ftBoolean:
            return u"ブール値型";
        case ftFloat:
            return u"倍精度浮動小数点数型";
        case ftCurrency:
        case ftBCD:
            return u"通貨型";
        case ftDate:
            return u"日付型";
        case ftTime:
            return u"時刻型";
        case ftDateTime:
            return u"日付時刻型";
        case ftAutoInc:
            return u"オートナンバー型";
        case ftMemo:
        case ftWideMemo:
            return u"メモ型";
        default:
            break;
    }
    if (dataType < 0 || dataType >= static_cast<int>(kEnumeratorNames.size())) return {};
    return kEnumeratorNames[static_cast<std::size_t>(dataType)];
}

std::vector<TAdoExcelField> GetFieldList(TTable& table) {
    std::vector<TAdoExcelField> fields;
    int count = table.FieldCount();
    fields.reserve(static_cast<std::size_t>(count));
    for (int number = 1; number <= count; ++number) {
        const TField& field = table.FieldByNumber(number);
        fields.push_back({field.DisplayName(), field.DataType()});
    }
    return fields;
}

}  // namespace qm
