// The page layer of the Access engine: a Jet 4 / ACE database file seen as numbered 4096-byte
// pages, with its decoded header (page 0). Every page access is bounds-checked, and files we do
// not read (Jet 3, encrypted, password-protected, other page sizes) are refused on opening with
// a Japanese message that names the file and the reason.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qm::jet {

inline constexpr std::uint32_t kPageSize = 4096;

enum TPageType : std::uint8_t {
    kPageHeader = 0x00,
    kPageData = 0x01,
    kPageTableDef = 0x02,
    kPageIndexNode = 0x03,
    kPageIndexLeaf = 0x04,
    kPageUsageMap = 0x05,
};

// What page 0 says about the database (values after removing the header's mask).
struct TJetHeader {
    std::uint8_t version = 0;  // 0x01 Jet 4, 0x02.. ACE 12 to ACE 17
    bool ace = false;          // "Standard ACE DB" (an .accdb)
    std::uint16_t codePage = 0;
    std::uint16_t sortOrder = 0;  // default LCID of new text columns
    std::uint8_t sortVersion = 0;
    std::uint32_t encodingKey = 0;  // non-zero: pages are encrypted or encoded
    double created = 0;             // creation time as an Access date
    bool hasPassword = false;       // a Jet 4 database password is set
};

// Applies (and removes) the RC4 mask of page 0's header region in place.
void ToggleHeaderMask(std::uint8_t* page0, std::size_t size);

class TJetPageFile {
  public:
    // Maps the file read-only. Throws Error for missing or unreadable files and for every
    // database this engine refuses.
    static std::unique_ptr<TJetPageFile> Open(const std::u16string& path);
    // The same over bytes held in memory (tests, fuzzing); `name` stands for the file name in
    // messages.
    static std::unique_ptr<TJetPageFile> FromBytes(std::string bytes, std::u16string name);

    ~TJetPageFile();
    TJetPageFile(const TJetPageFile&) = delete;
    TJetPageFile& operator=(const TJetPageFile&) = delete;

    const TJetHeader& Header() const { return header_; }
    const std::u16string& Path() const { return path_; }
    std::uint32_t PageCount() const { return pageCount_; }

    // The bytes of page `number`; throws a damage error when the page lies outside the file.
    const std::uint8_t* Page(std::uint32_t number) const;
    // Like Page, and also checks the page's type byte.
    const std::uint8_t* PageOfType(std::uint32_t number, TPageType type) const;

    // Throws the engine's "database is damaged" error naming this file; `detail` says what
    // is wrong (in Japanese).
    [[noreturn]] void FailDamaged(std::u16string_view detail) const;

  private:
    TJetPageFile(std::u16string path, const std::uint8_t* data, std::size_t size);
    void ReadHeader();

    std::u16string path_;
    std::string owned_;  // backing store for FromBytes
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* mapping_ = nullptr;
    std::uint32_t pageCount_ = 0;
    TJetHeader header_;
};

// Builds an Error whose message is `reason`, a line break and the file's path.
[[noreturn]] void FailWithFile(std::u16string_view reason, const std::u16string& path);

}  // namespace qm::jet
