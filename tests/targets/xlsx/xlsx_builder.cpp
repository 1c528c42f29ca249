#include "xlsx_builder.h"

#include <zlib.h>

#include <stdexcept>

#include "platform/little_endian.h"

namespace qm::test {

namespace {

std::string Deflate(const std::string& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

std::string BuildZip(const std::vector<TZipPart>& parts) {
    std::string out, directory;
    for (const TZipPart& part : parts) {
        std::uint32_t crc =
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(part.Data.data()),
                                             static_cast<uInt>(part.Data.size())));
        std::string data = part.Deflate ? Deflate(part.Data, part.Level) : part.Data;
        std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        std::uint16_t flags = part.Descriptor ? 0x0008 : 0;
        PutU32(out, 0x04034b50);
        PutU16(out, 20);
        PutU16(out, flags);
        PutU16(out, part.Deflate ? 8 : 0);
        PutU16(out, 0x6000);
        PutU16(out, 0x5821);
        PutU32(out, part.Descriptor ? 0 : crc);
        PutU32(out, part.Descriptor ? 0 : static_cast<std::uint32_t>(data.size()));
        PutU32(out, part.Descriptor ? 0 : static_cast<std::uint32_t>(part.Data.size()));
        PutU16(out, static_cast<std::uint32_t>(part.Name.size()));
        PutU16(out, 0);
        out += part.Name;
        out += data;
        if (part.Descriptor) {
            PutU32(out, 0x08074b50);
            PutU32(out, crc);
            PutU32(out, static_cast<std::uint32_t>(data.size()));
            PutU32(out, static_cast<std::uint32_t>(part.Data.size()));
        }
        PutU32(directory, 0x02014b50);
        PutU16(directory, 20);
        PutU16(directory, 20);
        PutU16(directory, flags);
        PutU16(directory, part.Deflate ? 8 : 0);
        PutU16(directory, 0x6000);
        PutU16(directory, 0x5821);
        PutU32(directory, crc);
        PutU32(directory, static_cast<std::uint32_t>(data.size()));
        PutU32(directory, static_cast<std::uint32_t>(part.Data.size()));
        PutU16(directory, static_cast<std::uint32_t>(part.Name.size()));
        PutU16(directory, 0);
        PutU16(directory, 0);
        PutU16(directory, 0);
        PutU16(directory, 0);
        PutU32(directory, 0);
        PutU32(directory, offset);
        directory += part.Name;
    }
    std::uint32_t directoryOffset = static_cast<std::uint32_t>(out.size());
    out += directory;
    PutU32(out, 0x06054b50);
    PutU16(out, 0);
    PutU16(out, 0);
    PutU16(out, static_cast<std::uint32_t>(parts.size()));
    PutU16(out, static_cast<std::uint32_t>(parts.size()));
    PutU32(out, static_cast<std::uint32_t>(directory.size()));
    PutU32(out, directoryOffset);
    PutU16(out, 0);
    return out;
}

std::string InlineCell(const std::string& ref, const std::string& text, int style) {
    return "<c r=\"" + ref + "\"" + (style ? " s=\"" + std::to_string(style) + "\"" : "") +
           " t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

std::string NumberCell(const std::string& ref, const std::string& value, int style) {
    return "<c r=\"" + ref + "\"" + (style ? " s=\"" + std::to_string(style) + "\"" : "") + "><v>" +
           value + "</v></c>";
}

std::vector<TZipPart> WorkbookParts(const TTestWorkbook& workbook) {
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::vector<TZipPart> parts;
    std::string types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    if (!workbook.SharedStrings.empty())
        types +=
            "<Override PartName=\"/xl/sharedStrings.xml\" "
            "ContentType=\"application/"
            "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
    for (std::size_t i = 0; i < workbook.Sheets.size(); ++i) {
        types += "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i + 1) +
                 ".xml\" "
                 "ContentType=\"application/"
                 "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        for (const auto& table : workbook.Sheets[i].Tables)
            types += "<Override PartName=\"/xl/tables/" + table.first +
                     "\" "
                     "ContentType=\"application/"
                     "vnd.openxmlformats-officedocument.spreadsheetml.table+xml\"/>";
    }
    types += "</Types>";
    parts.push_back({"[Content_Types].xml", types});
    parts.push_back({"_rels/.rels",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                     "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                     "<Relationship Id=\"rId1\" Type=\"" +
                         rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"});
    std::string book = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook xmlns=\"" + main +
                       "\" xmlns:r=\"" + rel + "\">";
    if (workbook.Date1904) book += "<workbookPr date1904=\"1\"/>";
    book += "<sheets>";
    std::string bookRels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 0; i < workbook.Sheets.size(); ++i) {
        std::string n = std::to_string(i + 1);
        book += "<sheet name=\"" + workbook.Sheets[i].Name + "\" sheetId=\"" + n + "\" r:id=\"rId" +
                n + "\"/>";
        bookRels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel +
                    "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    }
    book += "</sheets>";
    if (!workbook.DefinedNames.empty())
        book += "<definedNames>" + workbook.DefinedNames + "</definedNames>";
    book += "</workbook>";
    bookRels += "<Relationship Id=\"rIdS\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/>";
    if (!workbook.SharedStrings.empty())
        bookRels += "<Relationship Id=\"rIdT\" Type=\"" + rel +
                    "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    bookRels += "</Relationships>";
    parts.push_back({"xl/workbook.xml", book});
    parts.push_back({"xl/_rels/workbook.xml.rels", bookRels});
    std::string styles =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><styleSheet xmlns=\"" + main +
        "\"><numFmts count=\"1\">" + workbook.CustomFormats +
        "</numFmts><fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
        "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
        "patternType=\"gray125\"/></fill></fills><borders count=\"1\"><border><left/><right/><top/>"
        "<bottom/><diagonal/></border></borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" "
        "fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs><cellXfs count=\"" +
        std::to_string(workbook.Styles.size()) + "\">";
    for (int id : workbook.Styles)
        styles += "<xf numFmtId=\"" + std::to_string(id) +
                  "\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"" +
                  (id ? " applyNumberFormat=\"1\"" : "") + "/>";
    styles +=
        "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
        "builtinId=\"0\"/></cellStyles>"
        "</styleSheet>";
    parts.push_back({"xl/styles.xml", styles});
    if (!workbook.SharedStrings.empty()) {
        std::string sst = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><sst xmlns=\"" + main +
                          "\" count=\"" + std::to_string(workbook.SharedStrings.size()) +
                          "\" uniqueCount=\"" + std::to_string(workbook.SharedStrings.size()) +
                          "\">";
        for (const std::string& s : workbook.SharedStrings)
            sst += "<si><t>" + s + "</t></si>";
        sst += "</sst>";
        parts.push_back({"xl/sharedStrings.xml", sst});
    }
    for (std::size_t i = 0; i < workbook.Sheets.size(); ++i) {
        const TTestSheet& sheet = workbook.Sheets[i];
        std::string n = std::to_string(i + 1);
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet xmlns=\"" + main +
                          "\" xmlns:r=\"" + rel + "\">";
        if (!sheet.Dimension.empty()) xml += "<dimension ref=\"" + sheet.Dimension + "\"/>";
        xml += sheet.Rows.empty() ? "<sheetData/>" : "<sheetData>" + sheet.Rows + "</sheetData>";
        xml += sheet.After;
        if (!sheet.Tables.empty()) {
            xml += "<tableParts count=\"" + std::to_string(sheet.Tables.size()) + "\">";
            for (std::size_t t = 0; t < sheet.Tables.size(); ++t)
                xml += "<tablePart r:id=\"rIdTable" + std::to_string(t + 1) + "\"/>";
            xml += "</tableParts>";
        }
        xml += "</worksheet>";
        parts.push_back({"xl/worksheets/sheet" + n + ".xml", xml});
        if (!sheet.Tables.empty()) {
            std::string rels =
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
            for (std::size_t t = 0; t < sheet.Tables.size(); ++t) {
                rels += "<Relationship Id=\"rIdTable" + std::to_string(t + 1) + "\" Type=\"" + rel +
                        "/table\" Target=\"../tables/" + sheet.Tables[t].first + "\"/>";
                parts.push_back({"xl/tables/" + sheet.Tables[t].first, sheet.Tables[t].second});
            }
            rels += "</Relationships>";
            parts.push_back({"xl/worksheets/_rels/sheet" + n + ".xml.rels", rels});
        }
    }
    return parts;
}

std::string BuildWorkbook(const TTestWorkbook& workbook) {
    return BuildZip(WorkbookParts(workbook));
}

}  // namespace qm::test
