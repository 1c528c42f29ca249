#include "targets/jet/jet_page_allocator.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "targets/jet/jet_usage_map.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

constexpr std::uint32_t kPagesPerBitmapPage = (kPageSize - 4) * 8;
constexpr std::uint8_t kInlineMap = 0;
constexpr std::uint8_t kReferenceMap = 1;

void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::atomic<std::uint32_t> pageLimit{0};

}  // namespace

std::uint32_t DatabasePageLimit() {
    const std::uint32_t limit = pageLimit.load(std::memory_order_relaxed);
    return limit != 0 ? limit : kMaxDatabasePages;
}

void SetDatabasePageLimit(std::uint32_t pages) {
    pageLimit.store(pages, std::memory_order_relaxed);
}

TJetPageAllocator::TJetPageAllocator(TJetPageStore& store) : store_(store) {
    const TUsageMap global = ReadUsageMap(store.File(), kGlobalMapPointer);
    for (const std::uint32_t page : global.pages)
        if (page > 2 && page < store.File().PageCount()) reusable_.push_back(page);
    std::reverse(reusable_.begin(), reusable_.end());
}

std::uint32_t TJetPageAllocator::Allocate() {
    std::uint32_t page;
    if (!reusable_.empty()) {
        page = reusable_.back();
        reusable_.pop_back();
        std::memset(store_.Write(page), 0, kPageSize);
    } else {
        if (store_.PageCount() >= DatabasePageLimit())
            FailWithFile(kDatabaseTooLargeMessage, store_.File().Path());
        page = store_.Grow();
    }
    SetBit(kGlobalMapPointer, page, false);
    return page;
}

void TJetPageAllocator::SetBit(std::uint32_t rawPointer, std::uint32_t page, bool value) {
    const TRowPointer pointer = TRowPointer::FromRaw(rawPointer);
    const TRowSpan span =
        RowSpanOf(store_.File(), store_.Read(pointer.page), pointer.page, pointer.row);
    if (span.size < 5) store_.File().FailDamaged(u"使用状況マップが短すぎます");
    std::uint8_t* row = store_.Write(pointer.page) + span.start;
    if (row[0] == kInlineMap)
        SetInline(row, span.size, page, value);
    else if (row[0] == kReferenceMap)
        SetReference(row, span.size, page, value);
    else
        store_.File().FailDamaged(u"使用状況マップの種類が不明です");
}

void TJetPageAllocator::SetInline(std::uint8_t* row, std::size_t size, std::uint32_t page,
                                  bool value) {
    const std::uint32_t start = ReadU32(row + 1);
    const std::size_t bits = (size - 5) * 8;
    if (page >= start && page - start < bits) {
        const std::uint32_t bit = page - start;
        if (value)
            row[5 + bit / 8] = static_cast<std::uint8_t>(row[5 + bit / 8] | (1u << (bit % 8)));
        else
            row[5 + bit / 8] = static_cast<std::uint8_t>(row[5 + bit / 8] & ~(1u << (bit % 8)));
        return;
    }
    if (!value) return;  // a page outside the window has no bit to clear
    std::vector<std::uint32_t> pages;
    for (std::size_t bit = 0; bit < bits; ++bit)
        if (row[5 + bit / 8] & (1u << (bit % 8)))
            pages.push_back(start + static_cast<std::uint32_t>(bit));
    pages.push_back(page);
    std::sort(pages.begin(), pages.end());
    const std::uint32_t newStart = pages.front() & ~7u;
    if (pages.back() - newStart < bits) {
        // Every page still fits one window: move it.
        PutU32(row + 1, newStart);
        std::memset(row + 5, 0, size - 5);
        for (const std::uint32_t p : pages)
            row[5 + (p - newStart) / 8] = static_cast<std::uint8_t>(row[5 + (p - newStart) / 8] |
                                                                    (1u << ((p - newStart) % 8)));
        return;
    }
    // Too far apart for one window: the map becomes a list of bitmap pages.
    if ((pages.back() / kPagesPerBitmapPage + 1) * 4 > size - 1)
        store_.File().FailDamaged(u"使用状況マップに収まらないページです");
    std::memset(row, 0, size);
    row[0] = kReferenceMap;
    for (const std::uint32_t p : pages)
        SetReference(row, size, p, true);
}

void TJetPageAllocator::SetReference(std::uint8_t* row, std::size_t size, std::uint32_t page,
                                     bool value) {
    const std::uint32_t slot = page / kPagesPerBitmapPage;
    if (1 + 4 * (static_cast<std::size_t>(slot) + 1) > size) {
        if (!value) return;
        store_.File().FailDamaged(u"使用状況マップに収まらないページです");
    }
    std::uint32_t bitmap = ReadU32(row + 1 + 4 * slot);
    if (bitmap == 0) {
        if (!value) return;
        // `row` stays valid: changed pages keep their buffers for the whole transaction.
        bitmap = Allocate();
        std::uint8_t* bytes = store_.Write(bitmap);
        bytes[0] = kPageUsageMap;
        bytes[1] = 1;
        PutU32(row + 1 + 4 * slot, bitmap);
    }
    if (bitmap >= store_.PageCount() || store_.Read(bitmap)[0] != kPageUsageMap)
        store_.File().FailDamaged(u"使用状況マップのページ " + Utf8ToUtf16(std::to_string(bitmap)) +
                                  u" が不正です");
    std::uint8_t* bytes = store_.Write(bitmap);
    const std::uint32_t bit = page % kPagesPerBitmapPage;
    if (value)
        bytes[4 + bit / 8] = static_cast<std::uint8_t>(bytes[4 + bit / 8] | (1u << (bit % 8)));
    else
        bytes[4 + bit / 8] = static_cast<std::uint8_t>(bytes[4 + bit / 8] & ~(1u << (bit % 8)));
}

}  // namespace qm::jet
