#include "targets/xls/xls_workbook.h"

#include <map>

#include "platform/error.h"
#include "platform/little_endian.h"
#include "text/unicode.h"

namespace qm::xls {

namespace {

constexpr std::uint16_t kBiff8 = 0x0600;
constexpr std::uint16_t kGlobalsType = 0x0005;

// Built-in names carry a one-character code instead of their name.
std::u16string BuiltInName(char16_t code) {
    static const char16_t* const kNames[] = {
        u"Consolidate_Area", u"Auto_Open",       u"Auto_Close",   u"Extract",         u"Database",
        u"Criteria",         u"Print_Area",      u"Print_Titles", u"Recorder",        u"Data_Form",
        u"Auto_Activate",    u"Auto_Deactivate", u"Sheet_Title",  u"_FilterDatabase",
    };
    if (code < sizeof kNames / sizeof kNames[0]) return kNames[code];
    return u"_BuiltIn" + Utf8ToUtf16(std::to_string(static_cast<int>(code)));
}

}  // namespace

void FailOldFormat(const std::u16string& file) {
    throw Error(
        u"Excel 5.0/95 以前の形式のブックには対応していません。"
        u"Excel 97-2003 形式（.xls）または .xlsx 形式で保存し直してから指定してください。\n" +
        file);
}

void FailBiffCorrupt(const std::u16string& file, std::u16string_view reason) {
    throw Error(u"ブックが壊れているため読めません（" + std::u16string(reason) + u"）。\n" + file);
}

TXlsWorkbook::TXlsWorkbook(std::shared_ptr<const TByteSource> source)
    : compound_(std::move(source)) {
    FindWorkbookStream();
    ReadGlobals();
    ResolveNames();
}

void TXlsWorkbook::FindWorkbookStream() {
    int entry = compound_.FindRootStream(u"Workbook");
    if (entry < 0) {
        if (compound_.FindRootStream(u"Book") >= 0) FailOldFormat(FileName());
        if (compound_.FindRootStream(u"EncryptedPackage") >= 0)
            throw Error(
                u"パスワードで暗号化されたファイルは開けません。暗号化を解除してから指定してくださ"
                u"い。"
                u"\n" +
                FileName());
        throw Error(
            u"このファイルは Excel ブックではありません（Workbook ストリームがありません）。\n" +
            FileName());
    }
    workbookEntry_ = static_cast<std::uint32_t>(entry);
    // Record offsets are 32-bit in BIFF8 (BOUNDSHEET, INDEX, EXTSST): a bigger stream is not
    // a workbook Excel wrote.
    if (compound_.Directory()[workbookEntry_].Size > 0xFFFFFFF0u)
        FailBiffCorrupt(FileName(), u"Workbook ストリームが大きすぎます");
    stream_ = compound_.ReadStream(workbookEntry_);
}

const std::u16string& TXlsWorkbook::SharedString(std::uint32_t index) const {
    if (index >= strings_.size()) FailBiffCorrupt(FileName(), u"共有文字列の番号が範囲外です");
    return strings_[index];
}

void TXlsWorkbook::ReadGlobals() {
    const std::u16string& file = FileName();
    TRecordReader reader(stream_, 0, file);
    TRecord rec;
    if (!reader.Next(rec) || rec.Id != record::kBof || rec.Body.size() < 4) {
        // Excel 2.x-4.0 wrote their own BOF ids; anything else is not a workbook.
        FailBiffCorrupt(file, u"Workbook ストリームが BOF レコードで始まっていません");
    }
    if (ReadU16(rec.Body.data()) != kBiff8) FailOldFormat(file);
    if (ReadU16(rec.Body.data() + 2) != kGlobalsType)
        FailBiffCorrupt(file, u"ブック全体の設定がありません");

    std::map<std::uint16_t, std::string> formats;
    std::vector<std::uint16_t> xfFormats;
    int supBooks = 0;
    while (reader.Next(rec)) {
        std::string_view body = rec.Body;
        switch (rec.Id) {
            case record::kFilePass:
                throw Error(
                    u"パスワードで暗号化されたブックは開けません。暗号化を解除してから指定してくだ"
                    u"さ"
                    u"い。\n" +
                    file);
            case record::kCodePage:
                if (body.size() >= 2) codePage_ = ReadU16(body.data());
                break;
            case record::kDateMode:
                if (body.size() >= 2) date1904_ = ReadU16(body.data()) != 0;
                break;
            case record::kBoundSheet: {
                if (body.size() < 8) FailBiffCorrupt(file, u"シートの一覧が不正です");
                TXlsSheetInfo sheet;
                sheet.Offset = ReadU32(body.data());
                sheet.RecordOffset = rec.Offset;
                sheet.State = static_cast<std::uint8_t>(body[4]) & 0x03;
                sheet.Type = static_cast<std::uint8_t>(body[5]);
                TBiffCursor cursor(body.substr(6), file);
                sheet.Name = cursor.ShortUnicodeString();
                sheets_.push_back(std::move(sheet));
                break;
            }
            case record::kFormat: {
                if (body.size() < 5) break;
                TBiffCursor cursor(body.substr(2), file);
                formats[ReadU16(body.data())] = Utf16ToUtf8(cursor.UnicodeString());
                break;
            }
            case record::kXf:
                if (body.size() >= 4) xfFormats.push_back(ReadU16(body.data() + 2));
                break;
            case record::kSst: {
                sstOffset_ = rec.Offset;
                TBiffCursor cursor(BodyWithContinues(reader, rec), file);
                cursor.Skip(4);  // references in the workbook
                std::uint32_t unique = cursor.U32();
                // Each string takes at least three bytes: a wrong count cannot make us reserve
                // more than the record holds.
                strings_.reserve(std::min<std::size_t>(unique, stream_.size() / 3));
                for (std::uint32_t i = 0; i < unique && !cursor.AtEnd(); ++i)
                    strings_.push_back(cursor.RichExtendedString());
                break;
            }
            case record::kSupBook:
                if (body.size() >= 4 && ReadU16(body.data() + 2) == 0x0401) selfSupBook_ = supBooks;
                ++supBooks;
                break;
            case record::kExternSheet: {
                TBiffCursor cursor(BodyWithContinues(reader, rec), file);
                std::uint16_t count = cursor.U16();
                for (std::uint16_t i = 0; i < count; ++i) {
                    TExternSheet sheet;
                    sheet.SupBook = cursor.U16();
                    sheet.FirstSheet = cursor.U16();
                    sheet.LastSheet = cursor.U16();
                    externSheets_.push_back(sheet);
                }
                break;
            }
            case record::kName:
                ReadName(reader, rec);
                break;
            default:
                break;
        }
        if (rec.Id == record::kEof) break;
    }
    xfKinds_.reserve(xfFormats.size());
    for (std::uint16_t format : xfFormats) {
        auto found = formats.find(format);
        xfKinds_.push_back(
            sheet::ClassifyNumberFormat(format, found == formats.end() ? "" : found->second));
    }
}

void TXlsWorkbook::ReadName(TRecordReader& reader, const TRecord& first) {
    TBiffCursor cursor(BodyWithContinues(reader, first), FileName());
    std::uint16_t flags = cursor.U16();
    cursor.Skip(1);  // keyboard shortcut
    std::uint8_t length = cursor.U8();
    std::uint16_t formulaSize = cursor.U16();
    cursor.Skip(2);
    std::uint16_t sheet = cursor.U16();
    cursor.Skip(4);
    TXlsDefinedName name;
    name.RecordOffset = first.Offset;
    name.Hidden = (flags & 0x0001) != 0;
    name.BuiltIn = (flags & 0x0020) != 0;
    name.LocalSheet = sheet == 0 ? -1 : sheet - 1;
    std::uint8_t nameFlags = cursor.U8();
    name.Name = cursor.Chars(length, (nameFlags & 1) != 0);
    if (name.BuiltIn && name.Name.size() == 1) name.Name = BuiltInName(name.Name[0]);

    // A single 3-D reference (area or cell) is a table; any other formula is not.
    TNameRef ref;
    if (formulaSize == 11 || formulaSize == 7) {
        std::uint8_t token = cursor.U8();
        std::uint16_t externSheet = cursor.U16();
        if (formulaSize == 11 && (token == 0x3B || token == 0x5B || token == 0x7B)) {
            ref.Area.FirstRow = cursor.U16() + 1u;
            ref.Area.LastRow = cursor.U16() + 1u;
            ref.Area.FirstColumn = (cursor.U16() & 0x3FFFu) + 1u;
            ref.Area.LastColumn = (cursor.U16() & 0x3FFFu) + 1u;
            ref.Valid = true;
        } else if (formulaSize == 7 && (token == 0x3A || token == 0x5A || token == 0x7A)) {
            ref.Area.FirstRow = ref.Area.LastRow = cursor.U16() + 1u;
            ref.Area.FirstColumn = ref.Area.LastColumn = (cursor.U16() & 0x3FFFu) + 1u;
            ref.Valid = true;
        }
        ref.ExternSheet = externSheet;
        if (ref.Area.FirstRow > ref.Area.LastRow || ref.Area.FirstColumn > ref.Area.LastColumn ||
            ref.Area.LastColumn > 256)
            ref.Valid = false;
    }
    names_.push_back(std::move(name));
    nameRefs_.push_back(ref);
}

void TXlsWorkbook::ResolveNames() {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        const TNameRef& ref = nameRefs_[i];
        if (!ref.Valid || ref.ExternSheet >= externSheets_.size()) continue;
        const TExternSheet& target = externSheets_[ref.ExternSheet];
        if (selfSupBook_ < 0 || target.SupBook != selfSupBook_) continue;
        if (target.FirstSheet != target.LastSheet || target.FirstSheet >= sheets_.size()) continue;
        if (!sheets_[target.FirstSheet].Worksheet()) continue;
        names_[i].AreaSheet = target.FirstSheet;
        names_[i].Area = ref.Area;
    }
}

}  // namespace qm::xls
