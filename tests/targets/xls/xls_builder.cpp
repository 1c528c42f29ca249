#include "xls_builder.h"

#include <algorithm>
#include <cstring>

namespace qm::test {

namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kFatMark = 0xFFFFFFFD;
constexpr std::uint32_t kDifatMark = 0xFFFFFFFC;

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

bool CfbLess(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return Upper(a[i]) < Upper(b[i]);
    return false;
}

bool AllNarrow(const std::u16string& text, std::size_t from = 0) {
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                       [](char16_t c) { return c < 0x100; });
}

void PutChars(std::string& out, const std::u16string& text, std::size_t from, std::size_t count,
              bool high) {
    for (std::size_t i = from; i < from + count; ++i) {
        if (high)
            PutU16(out, text[i]);
        else
            out += static_cast<char>(text[i]);
    }
}

std::string CellHead(std::uint16_t row, std::uint16_t col, std::uint16_t xf) {
    std::string body;
    PutU16(body, row);
    PutU16(body, col);
    PutU16(body, xf);
    return body;
}

std::string Bof(std::uint16_t version, std::uint16_t type) {
    std::string body;
    PutU16(body, version);
    PutU16(body, type);
    PutU16(body, 0x0DBB);  // build
    PutU16(body, 0x07CC);  // year
    if (version == 0x0600) {
        PutU32(body, 0);
        PutU32(body, 0x06);
    }
    return Record(0x0809, body);
}

// The SST with its CONTINUE records: a string's characters that cross a record boundary go
// on after a byte that gives their width, which may differ from the part before.
std::string SstRecords(const std::vector<std::u16string>& strings, std::size_t limit) {
    std::vector<std::string> bodies;
    std::string current;
    PutU32(current, static_cast<std::uint32_t>(strings.size()));
    PutU32(current, static_cast<std::uint32_t>(strings.size()));
    for (const std::u16string& text : strings) {
        bool high = !AllNarrow(text);
        std::size_t width = high ? 2 : 1;
        if (current.size() + 3 + width > limit) {
            bodies.push_back(std::move(current));
            current.clear();
        }
        PutU16(current, static_cast<std::uint16_t>(text.size()));
        current += static_cast<char>(high ? 1 : 0);
        std::size_t done = 0;
        while (done < text.size()) {
            std::size_t available = (limit - current.size()) / width;
            if (available == 0) {
                bodies.push_back(std::move(current));
                current.clear();
                high = !AllNarrow(text, done);
                width = high ? 2 : 1;
                current += static_cast<char>(high ? 1 : 0);
                continue;
            }
            std::size_t take = std::min(available, text.size() - done);
            PutChars(current, text, done, take, high);
            done += take;
        }
    }
    bodies.push_back(std::move(current));
    std::string out = Record(0x00FC, bodies[0]);
    for (std::size_t i = 1; i < bodies.size(); ++i)
        out += Record(0x003C, bodies[i]);
    return out;
}

}  // namespace

void PutDouble(std::string& out, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    PutU32(out, static_cast<std::uint32_t>(bits));
    PutU32(out, static_cast<std::uint32_t>(bits >> 32));
}

std::string Record(std::uint16_t id, const std::string& body) {
    std::string out;
    PutU16(out, id);
    PutU16(out, static_cast<std::uint16_t>(body.size()));
    return out + body;
}

std::string UnicodeString(const std::u16string& text) {
    std::string out;
    bool high = !AllNarrow(text);
    PutU16(out, static_cast<std::uint16_t>(text.size()));
    out += static_cast<char>(high ? 1 : 0);
    PutChars(out, text, 0, text.size(), high);
    return out;
}

std::string NumberCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf, double value) {
    std::string body = CellHead(row, col, xf);
    PutDouble(body, value);
    return Record(0x0203, body);
}

std::string RkCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf, std::uint32_t rk) {
    std::string body = CellHead(row, col, xf);
    PutU32(body, rk);
    return Record(0x027E, body);
}

std::string MulRkCells(std::uint16_t row, std::uint16_t firstCol,
                       const std::vector<std::pair<std::uint16_t, std::uint32_t>>& xfRk) {
    std::string body;
    PutU16(body, row);
    PutU16(body, firstCol);
    for (const auto& [xf, rk] : xfRk) {
        PutU16(body, xf);
        PutU32(body, rk);
    }
    PutU16(body, static_cast<std::uint16_t>(firstCol + xfRk.size() - 1));
    return Record(0x00BD, body);
}

std::string LabelSstCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf,
                         std::uint32_t index) {
    std::string body = CellHead(row, col, xf);
    PutU32(body, index);
    return Record(0x00FD, body);
}

std::string LabelCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf,
                      const std::u16string& text) {
    return Record(0x0204, CellHead(row, col, xf) + UnicodeString(text));
}

std::string BoolErrCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf, std::uint8_t value,
                        bool error) {
    std::string body = CellHead(row, col, xf);
    body += static_cast<char>(value);
    body += static_cast<char>(error ? 1 : 0);
    return Record(0x0205, body);
}

namespace {

std::string FormulaTail() {
    std::string tail;
    PutU16(tail, 0);  // flags
    PutU32(tail, 0);  // chn
    PutU16(tail, 3);  // a formula of 3 bytes: the number 1 (PtgInt)
    tail += '\x1E';
    PutU16(tail, 1);
    return tail;
}

}  // namespace

std::string FormulaNumber(std::uint16_t row, std::uint16_t col, std::uint16_t xf, double value) {
    std::string body = CellHead(row, col, xf);
    PutDouble(body, value);
    return Record(0x0006, body + FormulaTail());
}

std::string FormulaSpecial(std::uint16_t row, std::uint16_t col, std::uint16_t xf,
                           std::uint8_t type, std::uint8_t value) {
    std::string body = CellHead(row, col, xf);
    body += static_cast<char>(type);
    body += '\0';
    body += static_cast<char>(value);
    body += std::string(3, '\0');
    PutU16(body, 0xFFFF);
    return Record(0x0006, body + FormulaTail());
}

std::string StringRecord(const std::u16string& text) {
    return Record(0x0207, UnicodeString(text));
}

std::string BlankCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf) {
    return Record(0x0201, CellHead(row, col, xf));
}

std::string MulBlankCells(std::uint16_t row, std::uint16_t firstCol, std::uint16_t count,
                          std::uint16_t xf) {
    std::string body;
    PutU16(body, row);
    PutU16(body, firstCol);
    for (std::uint16_t i = 0; i < count; ++i)
        PutU16(body, xf);
    PutU16(body, static_cast<std::uint16_t>(firstCol + count - 1));
    return Record(0x00BE, body);
}

std::string RowRecord(std::uint16_t row) {
    std::string body;
    PutU16(body, row);
    PutU16(body, 0);
    PutU16(body, 1);
    PutU16(body, 0x00FF);
    PutU32(body, 0);
    PutU32(body, 0x0100);
    return Record(0x0208, body);
}

std::string NameArea(const std::u16string& name, std::uint16_t localSheet, std::uint16_t ixti,
                     std::uint16_t firstRow, std::uint16_t lastRow, std::uint16_t firstCol,
                     std::uint16_t lastCol, bool hidden, bool builtIn) {
    std::string body;
    PutU16(body, static_cast<std::uint16_t>((hidden ? 1 : 0) | (builtIn ? 0x20 : 0)));
    body += '\0';
    body += static_cast<char>(name.size());
    PutU16(body, 11);
    PutU16(body, 0);
    PutU16(body, localSheet);
    PutU32(body, 0);
    bool high = !AllNarrow(name);
    body += static_cast<char>(high ? 1 : 0);
    PutChars(body, name, 0, name.size(), high);
    body += '\x3B';
    PutU16(body, ixti);
    PutU16(body, firstRow);
    PutU16(body, lastRow);
    PutU16(body, firstCol);
    PutU16(body, lastCol);
    return Record(0x0018, body);
}

std::string BuildWorkbookStream(const TBiffWorkbook& book) {
    std::string globals = Bof(book.Version, 0x0005);
    std::string codePage;
    PutU16(codePage, 1200);
    globals += Record(0x0042, codePage);
    std::string dateMode;
    PutU16(dateMode, book.Date1904 ? 1 : 0);
    globals += Record(0x0022, dateMode);
    for (const auto& [id, code] : book.Formats) {
        std::string body;
        PutU16(body, id);
        globals += Record(0x041E, body + UnicodeString(code));
    }
    std::vector<std::uint16_t> xfs = book.XfFormats;
    if (xfs.size() < 16) xfs.resize(16, 0);
    for (std::uint16_t format : xfs) {
        std::string body;
        PutU16(body, 0);
        PutU16(body, format);
        body += std::string(16, '\0');
        globals += Record(0x00E0, body);
    }
    std::vector<std::size_t> offsetAt;
    for (const TBiffSheet& sheet : book.Sheets) {
        std::string body;
        PutU32(body, 0);
        body += static_cast<char>(sheet.State);
        body += static_cast<char>(sheet.Type);
        bool high = !AllNarrow(sheet.Name);
        body += static_cast<char>(sheet.Name.size());
        body += static_cast<char>(high ? 1 : 0);
        PutChars(body, sheet.Name, 0, sheet.Name.size(), high);
        offsetAt.push_back(globals.size() + 4);
        globals += Record(0x0085, body);
    }
    globals += book.GlobalsExtra;
    if (!book.Strings.empty()) globals += SstRecords(book.Strings, book.SstLimit);
    globals += Record(0x000A, "");
    std::string stream = globals;
    for (std::size_t i = 0; i < book.Sheets.size(); ++i) {
        SetU32(stream, offsetAt[i], static_cast<std::uint32_t>(stream.size()));
        const TBiffSheet& sheet = book.Sheets[i];
        stream += Bof(book.Version, sheet.Type == 2 ? 0x0020 : 0x0010);
        stream +=
            Record(0x0200, sheet.Dimensions.empty() ? std::string(14, '\0') : sheet.Dimensions);
        stream += sheet.Cells;
        stream += Record(0x000A, "");
    }
    return stream;
}

std::string BuildXls(const TBiffWorkbook& book, std::uint16_t major) {
    return BuildCompoundFile({{u"Workbook", BuildWorkbookStream(book)}}, major);
}

std::string BuildCompoundFile(const std::vector<TCfbStream>& input, std::uint16_t major) {
    const std::uint32_t ss = major == 4 ? 4096 : 512;
    const std::uint32_t perSector = ss / 4;
    std::vector<TCfbStream> streams = input;
    std::sort(streams.begin(), streams.end(),
              [](const TCfbStream& a, const TCfbStream& b) { return CfbLess(a.Name, b.Name); });

    std::vector<std::uint32_t> fat;  // grows as sectors are allocated
    auto allocate = [&](std::size_t count) {
        std::uint32_t start = static_cast<std::uint32_t>(fat.size());
        for (std::size_t i = 0; i < count; ++i)
            fat.push_back(i + 1 < count ? start + static_cast<std::uint32_t>(i) + 1 : kEnd);
        return count ? start : kEnd;
    };
    std::string body;  // the sectors after the header, in order
    auto place = [&](const std::string& data) {
        std::size_t count = (data.size() + ss - 1) / ss;
        std::uint32_t start = allocate(count);
        body += data;
        body.resize(fat.size() * ss, '\0');
        return start;
    };

    std::vector<std::uint32_t> starts(streams.size(), kEnd);
    std::string mini;
    std::vector<std::uint32_t> miniFat;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const std::string& data = streams[i].Data;
        if (data.empty()) continue;
        if (data.size() >= 4096) {
            starts[i] = place(data);
        } else {
            std::uint32_t first = static_cast<std::uint32_t>(miniFat.size());
            std::size_t count = (data.size() + 63) / 64;
            for (std::size_t k = 0; k < count; ++k)
                miniFat.push_back(k + 1 < count ? first + static_cast<std::uint32_t>(k) + 1 : kEnd);
            starts[i] = first;
            mini += data;
            mini.resize(miniFat.size() * 64, '\0');
        }
    }
    std::uint32_t miniStart = place(mini);
    std::string miniFatBytes;
    for (std::uint32_t link : miniFat)
        PutU32(miniFatBytes, link);
    std::uint32_t miniFatStart = place(miniFatBytes);
    std::uint32_t miniFatCount = static_cast<std::uint32_t>((miniFatBytes.size() + ss - 1) / ss);

    // The directory: the root, then the streams as a chain of right siblings (in order).
    std::string directory;
    auto entry = [&](const std::u16string& name, std::uint8_t type, std::uint32_t right,
                     std::uint32_t child, std::uint32_t start, std::uint64_t size) {
        std::string e(128, '\0');
        for (std::size_t k = 0; k < name.size(); ++k)
            SetU16(e, 2 * k, name[k]);
        SetU16(e, 64, static_cast<std::uint16_t>((name.size() + 1) * 2));
        e[66] = static_cast<char>(type);
        e[67] = 1;  // black
        SetU32(e, 68, 0xFFFFFFFF);
        SetU32(e, 72, right);
        SetU32(e, 76, child);
        SetU32(e, 116, start);
        SetU32(e, 120, static_cast<std::uint32_t>(size));
        SetU32(e, 124, static_cast<std::uint32_t>(size >> 32));
        directory += e;
    };
    entry(u"Root Entry", 5, 0xFFFFFFFF, streams.empty() ? 0xFFFFFFFF : 1, miniStart, mini.size());
    for (std::size_t i = 0; i < streams.size(); ++i)
        entry(streams[i].Name, 2,
              i + 1 < streams.size() ? static_cast<std::uint32_t>(i + 2) : 0xFFFFFFFF, 0xFFFFFFFF,
              starts[i], streams[i].Data.size());
    std::uint32_t directoryStart = place(directory);

    // FAT and DIFAT sectors: enough to map every sector, themselves included.
    std::uint32_t used = static_cast<std::uint32_t>(fat.size());
    std::uint32_t fatCount = 1, difatCount = 0;
    for (;;) {
        difatCount = fatCount > 109 ? (fatCount - 109 + perSector - 2) / (perSector - 1) : 0;
        if (fatCount * perSector >= used + fatCount + difatCount) break;
        ++fatCount;
    }
    std::uint32_t fatStart = static_cast<std::uint32_t>(fat.size());
    for (std::uint32_t i = 0; i < fatCount; ++i)
        fat.push_back(kFatMark);
    std::uint32_t difatStart = static_cast<std::uint32_t>(fat.size());
    for (std::uint32_t i = 0; i < difatCount; ++i)
        fat.push_back(kDifatMark);
    fat.resize(fatCount * perSector, kFree);
    std::string fatBytes;
    for (std::uint32_t link : fat)
        PutU32(fatBytes, link);
    body.resize(static_cast<std::size_t>(fatStart) * ss, '\0');
    body += fatBytes;
    for (std::uint32_t d = 0; d < difatCount; ++d) {
        std::string sector;
        for (std::uint32_t k = 0; k < perSector - 1; ++k) {
            std::uint32_t index = 109 + d * (perSector - 1) + k;
            PutU32(sector, index < fatCount ? fatStart + index : kFree);
        }
        PutU32(sector, d + 1 < difatCount ? difatStart + d + 1 : kEnd);
        body += sector;
    }

    std::string header(512, '\0');
    std::memcpy(header.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    header[24] = 0x3E;
    header[26] = static_cast<char>(major);
    header[28] = static_cast<char>(0xFE);
    header[29] = static_cast<char>(0xFF);
    header[30] = major == 4 ? 12 : 9;
    header[32] = 6;
    SetU32(header, 40,
           major == 4 ? static_cast<std::uint32_t>((directory.size() + ss - 1) / ss) : 0);
    SetU32(header, 44, fatCount);
    SetU32(header, 48, directoryStart);
    SetU32(header, 56, 4096);
    SetU32(header, 60, miniFatCount ? miniFatStart : kEnd);
    SetU32(header, 64, miniFatCount);
    SetU32(header, 68, difatCount ? difatStart : kEnd);
    SetU32(header, 72, difatCount);
    for (std::uint32_t i = 0; i < 109; ++i)
        SetU32(header, 76 + 4 * i, i < fatCount ? fatStart + i : kFree);
    header.resize(ss, '\0');
    return header + body;
}

}  // namespace qm::test
