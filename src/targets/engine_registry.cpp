// Choosing the engine for a connection string.
#include <algorithm>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "platform/file_access.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"
#include "targets/engine.h"
#include "text/unicode.h"

namespace qm {

namespace {

std::vector<TEngineFactory>& Registry() {
    static std::vector<TEngineFactory> factories;
    return factories;
}

enum class TContent { Zip, Compound, Jet, Other };

TContent ClassifyContent(std::string_view head) {
    if (head.size() >= 4 && head.substr(0, 4) == std::string_view("PK\x03\x04", 4))
        return TContent::Zip;
    if (head.size() >= 8 &&
        head.substr(0, 8) == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return TContent::Compound;
    if (head.size() >= 19 &&
        (head.substr(4, 15) == "Standard Jet DB" || head.substr(4, 15) == "Standard ACE DB"))
        return TContent::Jet;
    return TContent::Other;
}

// True when a compound file holds an encrypted Office package: its directory then names the
// streams "EncryptionInfo" and "EncryptedPackage" (UTF-16LE). Such files are small enough to be
// scanned whole; larger ones are looked at in their first 16 MiB.
bool HoldsEncryptedPackage(const TReadFile& file) {
    static const char16_t kName[] = u"EncryptedPackage";
    std::string needle;
    for (const char16_t* p = kName; *p; ++p)
        PutU16(needle, *p);
    std::string data(static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), 16u << 20)),
                     '\0');
    data.resize(file.ReadAt(0, data.data(), data.size()));
    return data.find(needle) != std::string::npos;
}

[[noreturn]] void FailFile(const std::u16string& message, const std::u16string& path) {
    throw Error(message + u"\n" + path);
}

}  // namespace

void RegisterEngine(const TEngineFactory& factory) {
    Registry().push_back(factory);
}

const std::vector<TEngineFactory>& RegisteredEngines() {
    return Registry();
}

std::unique_ptr<TEngine> OpenEngine(std::u16string_view connectionString) {
    TConnectionInfo info = ParseConnectionString(connectionString);
    const std::u16string& path = info.DataSource;
    // Stale temporary files that killed writers left beside the file go first.
    RemoveStaleTemporaryFiles(path);
    std::string head;
    bool encrypted = false;
    TContent content = TContent::Other;
    {
        TReadFile file(path);
        head.resize(512);
        head.resize(file.ReadAt(0, head.data(), head.size()));
        content = ClassifyContent(head);
        encrypted = content == TContent::Compound && HoldsEncryptedPackage(file);
    }

    if (head.empty()) FailFile(u"ファイルが空です。", path);
    if (encrypted)
        FailFile(
            u"パスワードで暗号化されたファイルは開けません。暗号化を解除してから指定してください。",
            path);

    for (const TEngineFactory& factory : Registry()) {
        if (factory.Accepts(info, head)) return factory.Open(info);
    }

    bool excel = !info.ExcelVersion.empty();
    bool ace = SameText(info.Provider, u"Microsoft.ACE.OLEDB.12.0");
    bool jet = SameText(info.Provider, u"Microsoft.Jet.OLEDB.4.0");
    if (!ace && !jet)
        FailFile(
            u"このファイルの種類には対応していません（プロバイダー: " + info.Provider + u"）。",
            path);
    switch (content) {
        case TContent::Zip:
            if (excel && !ace)
                FailFile(
                    u"このファイルは .xlsx 形式のブックですが、.xls として指定されています。"
                    u"拡張子を確認してください。",
                    path);
            FailFile(u"このファイルは Excel ブック（.xlsx）として読めませんでした。", path);
        case TContent::Compound:
            if (excel)
                FailFile(u"Excel 97-2003 形式のブック（.xls）にはまだ対応していません。", path);
            FailFile(u"このファイルは Access データベースではありません。", path);
        case TContent::Jet:
            if (excel)
                FailFile(
                    u"このファイルは Access データベースです。Excel ブックとしては開けません。",
                    path);
            FailFile(u"Access データベース（.mdb / .accdb）にはまだ対応していません。", path);
        case TContent::Other:
            break;
    }
    FailFile(excel ? u"このファイルは Excel ブックではないか、壊れています。"
                   : u"このファイルは Access データベースではないか、壊れています。",
             path);
}

}  // namespace qm
