// TAppVersionInfo: the string values of the program's version-information block (company,
// file version, description, ...), read for the About box.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

enum class TVersionInfoKey {
    Comments,
    CompanyName,
    FileDescription,
    FileVersion,
    InternalName,
    LegalCopyright,
    LegalTradeMarks,
    OriginalFilename,
    PrivateBuild,
    ProductName,
    ProductVersion,
};

// The key's name in the block ("Comments", "CompanyName", ...).
std::u16string_view VersionInfoKeyText(TVersionInfoKey key);

class TAppVersionInfo {
  public:
    // The block compiled into the running program (ProgramVersionBlock).
    TAppVersionInfo();
    // Any block in the same layout. Throws Error "バージョン情報を取得できません" for an
    // empty or malformed block, or one without a translation entry to find its strings by.
    explicit TAppVersionInfo(std::string block);

    // The value of the key in the string table of the first translation; empty when the block
    // has no such value.
    std::u16string GetValue(TVersionInfoKey key) const;

  private:
    std::uint32_t FTranslation = 0;  // language in the low 16 bits, code page in the high 16
    std::string FBlock;
};

}  // namespace qm
