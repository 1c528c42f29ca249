#include "targets/jet/jet_page_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/error.h"
#include "platform/file_access.h"
#include "platform/native_path.h"
#include "targets/jet/jet_bytes.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

// The header region from 0x18 to 0x97 is XOR-masked with the RC4 key stream of this key.
constexpr std::array<std::uint8_t, 4> kHeaderMaskKey = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kMaskStart = 0x18;
constexpr std::size_t kMaskLength = 128;

std::array<std::uint8_t, kMaskLength> HeaderMaskStream() {
    std::array<std::uint8_t, 256> s;
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + kHeaderMaskKey[i % kHeaderMaskKey.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    std::array<std::uint8_t, kMaskLength> out;
    for (std::size_t n = 0, i = 0, j = 0; n < kMaskLength; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        out[n] = s[(s[i] + s[j]) & 0xFF];
    }
    return out;
}

constexpr std::size_t kVersionOffset = 0x14;
constexpr std::size_t kCodePageOffset = 0x3C;
constexpr std::size_t kEncodingKeyOffset = 0x3E;
constexpr std::size_t kPasswordOffset = 0x42;
constexpr std::size_t kPasswordLength = 40;
constexpr std::size_t kSortOrderOffset = 0x6E;
constexpr std::size_t kSortVersionOffset = 0x71;
constexpr std::size_t kCreatedOffset = 0x72;

}  // namespace

void FailWithFile(std::u16string_view reason, const std::u16string& path) {
    std::u16string message(reason);
    message += u"\n";
    message += path;
    throw Error(std::move(message));
}

void ToggleHeaderMask(std::uint8_t* page0, std::size_t size) {
    static const auto stream = HeaderMaskStream();
    for (std::size_t i = 0; i < kMaskLength && kMaskStart + i < size; ++i)
        page0[kMaskStart + i] ^= stream[i];
}

TJetPageFile::TJetPageFile(std::u16string path, const std::uint8_t* data, std::size_t size)
    : path_(std::move(path)), data_(data), size_(size) {}

TJetPageFile::~TJetPageFile() {
    if (mapping_ != nullptr) ::munmap(mapping_, size_);
}

std::unique_ptr<TJetPageFile> TJetPageFile::Open(const std::u16string& path) {
    // Opened and mapped through the file seam, which refuses anything but a regular file.
    TFileMapping mapped = TReadFile(path).Map();
    const std::size_t size = mapped.Size();
    void* mapping = const_cast<void*>(mapped.Release());
    std::unique_ptr<TJetPageFile> file(
        new TJetPageFile(path, static_cast<const std::uint8_t*>(mapping), size));
    file->mapping_ = mapping;
    file->ReadHeader();
    return file;
}

std::unique_ptr<TJetPageFile> TJetPageFile::FromBytes(std::string bytes, std::u16string name) {
    std::unique_ptr<TJetPageFile> file(new TJetPageFile(std::move(name), nullptr, 0));
    file->owned_ = std::move(bytes);
    file->data_ = reinterpret_cast<const std::uint8_t*>(file->owned_.data());
    file->size_ = file->owned_.size();
    file->ReadHeader();
    return file;
}

void TJetPageFile::ReadHeader() {
    static constexpr std::string_view kJet = "Standard Jet DB";
    static constexpr std::string_view kAce = "Standard ACE DB";
    if (size_ < 0x100 || data_[0] != 0x00)
        FailWithFile(u"Accessデータベースではありません。", path_);
    const std::string_view engine(reinterpret_cast<const char*>(data_) + 4, 15);
    const bool jet = engine == kJet;
    header_.ace = engine == kAce;
    if (!jet && !header_.ace) FailWithFile(u"Accessデータベースではありません。", path_);
    header_.version = data_[kVersionOffset];
    if (jet && header_.version == 0x00)
        FailWithFile(
            u"Access 97 (Jet 3) 形式のデータベースには対応していません。"
            u"Access 2000 以降の形式に変換してから指定してください。",
            path_);
    if (header_.version > 0x06 || (jet && header_.version != 0x01) ||
        (header_.ace && header_.version < 0x02))
        FailWithFile(u"このバージョンのAccessデータベースには対応していません（バージョン番号 " +
                         Utf8ToUtf16(std::to_string(header_.version)) + u"）。",
                     path_);
    // Jet 4 and every ACE version use 4096-byte pages; anything else is a file we cannot read.
    if (size_ % kPageSize != 0)
        FailWithFile(
            u"ページサイズが 4096 バイトではないか、ファイルが途中で切れているため、"
            u"このデータベースは開けません。",
            path_);
    pageCount_ = static_cast<std::uint32_t>(size_ / kPageSize);
    if (pageCount_ < 3) FailDamaged(u"ページ数が足りません");

    std::array<std::uint8_t, kPageSize> page0;
    std::memcpy(page0.data(), data_, kPageSize);
    ToggleHeaderMask(page0.data(), page0.size());
    header_.codePage = ReadU16(&page0[kCodePageOffset]);
    header_.encodingKey = ReadU32(&page0[kEncodingKeyOffset]);
    header_.sortOrder = ReadU16(&page0[kSortOrderOffset]);
    header_.sortVersion = page0[kSortVersionOffset];
    header_.created = ReadDouble(&page0[kCreatedOffset]);

    if (header_.encodingKey != 0)
        FailWithFile(
            u"暗号化されたデータベースは開けません。Accessで暗号化を解除してから指定してください。",
            path_);
    if (!header_.ace) {
        // A Jet 4 password is masked with the creation date truncated to 32 bits; an empty
        // password leaves nothing but the mask.
        std::uint8_t mask[4] = {};
        if (std::isfinite(header_.created) && std::fabs(header_.created) < 2147483647.0) {
            const auto stamp =
                static_cast<std::uint32_t>(static_cast<std::int32_t>(header_.created));
            for (int i = 0; i < 4; ++i)
                mask[i] = static_cast<std::uint8_t>(stamp >> (8 * i));
        }
        for (std::size_t i = 0; i < kPasswordLength; ++i)
            if ((page0[kPasswordOffset + i] ^ mask[i % 4]) != 0) header_.hasPassword = true;
        if (header_.hasPassword)
            FailWithFile(
                u"パスワードで保護されたデータベースは開けません。"
                u"Accessでデータベースパスワードを解除してから指定してください。",
                path_);
    }
}

const std::uint8_t* TJetPageFile::Page(std::uint32_t number) const {
    if (number >= pageCount_)
        FailDamaged(u"ページ " + Utf8ToUtf16(std::to_string(number)) +
                    u" がファイルの外を指しています");
    return data_ + static_cast<std::size_t>(number) * kPageSize;
}

const std::uint8_t* TJetPageFile::PageOfType(std::uint32_t number, TPageType type) const {
    const std::uint8_t* page = Page(number);
    if (page[0] != type)
        FailDamaged(u"ページ " + Utf8ToUtf16(std::to_string(number)) +
                    u" の種類が想定と異なります");
    return page;
}

void TJetPageFile::FailDamaged(std::u16string_view detail) const {
    std::u16string reason = u"Accessデータベースが壊れているため読み込めません（";
    reason += detail;
    reason += u"）。";
    FailWithFile(reason, path_);
}

}  // namespace qm::jet
