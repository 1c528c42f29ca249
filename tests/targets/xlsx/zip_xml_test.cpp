#include <gtest/gtest.h>

#include "platform/error.h"
#include "targets/xlsx/cell_ref.h"
#include "targets/xlsx/package.h"
#include "targets/xlsx/xml_reader.h"
#include "targets/xlsx/zip_archive.h"
#include "test_util.h"
#include "xlsx_builder.h"

namespace qm::xlsx {
namespace {

std::shared_ptr<TMemoryByteSource> Source(const std::string& bytes) {
    return std::make_shared<TMemoryByteSource>(bytes);
}

TEST(ZipArchive, ReadsStoredDeflatedAndDescriptorEntries) {
    std::string big(200000, 'x');
    for (std::size_t i = 0; i < big.size(); i += 7)
        big[i] = static_cast<char>('a' + i % 26);
    std::string zip = test::BuildZip({{"a.txt", "stored", false},
                                      {"dir/b.xml", big, true},
                                      {"c.bin", "with descriptor", true, true}});
    TZipArchive archive(Source(zip));
    ASSERT_EQ(archive.Entries().size(), 3u);
    EXPECT_EQ(archive.ReadAll(*archive.Find("A.TXT"), 100), "stored");
    EXPECT_EQ(archive.ReadAll(*archive.Find("/dir/b.xml"), 1u << 20), big);
    const TZipEntry* c = archive.Find("c.bin");
    EXPECT_EQ(archive.ReadAll(*c, 100), "with descriptor");
    EXPECT_EQ(c->RecordEnd, archive.Entries()[2].DataOffset + c->CompressedSize + 16);
    EXPECT_THROW(archive.ReadAll(*archive.Find("dir/b.xml"), 1000), Error);  // over the cap
    EXPECT_EQ(archive.Find("missing"), nullptr);
}

TEST(ZipArchive, DamagedArchivesGiveErrors) {
    std::string zip =
        test::BuildZip({{"a.xml", std::string(5000, 'a'), true}, {"b.xml", "bbbb", false}});
    const std::string damaged = "ブックが壊れているため読めません（";
    const std::string truncated =
        "zip の終端レコードが見つかりません。ファイルが途中で切れている可能性があります";
    std::string badOffset = zip;
    badOffset[badOffset.size() - 6] = '\x7F';  // directory offset far beyond the file
    std::string badCount = zip;
    badCount[badCount.size() - 12] = '\x50';  // many more entries than the directory holds
    const struct {
        const char* name;
        std::string bytes;
        std::string reason;
    } cases[] = {
        {"empty", "", "zip 形式ではありません"},
        {"not a zip", "hello world, this is not a zip archive at all", "zip 形式ではありません"},
        {"truncated", zip.substr(0, zip.size() / 2), truncated},
        {"no end record", zip.substr(0, zip.size() - 22), truncated},
        {"directory offset", badOffset, "zip の中央ディレクトリの位置が不正です"},
        {"entry count", badCount, "zip の項目数が不正です"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(test::ErrorOf([&] { TZipArchive archive(Source(c.bytes)); }),
                  damaged + c.reason + "）。\n(memory)");
    }
    // Content damage is found when the entry is read: a flipped byte of deflated data.
    std::string corrupt = zip;
    corrupt[40] = static_cast<char>(corrupt[40] ^ 0x55);
    TZipArchive archive(Source(corrupt));
    EXPECT_EQ(test::ErrorOf([&] { archive.ReadAll(*archive.Find("a.xml"), 1u << 20); }),
              damaged + "部品「a.xml」の圧縮データが壊れています）。\n(memory)");
    // A stored entry whose CRC does not match.
    std::string crc = zip;
    std::size_t at = crc.find("bbbb");
    crc[at] = 'c';
    TZipArchive crcArchive(Source(crc));
    EXPECT_EQ(test::ErrorOf([&] { crcArchive.ReadAll(*crcArchive.Find("b.xml"), 100); }),
              damaged + "部品「b.xml」のCRC が一致しません）。\n(memory)");
}

// Feeds a document a few bytes at a time, to exercise the refilling of the buffer.
class TChunkInput : public TXmlInput {
  public:
    TChunkInput(std::string text, std::size_t chunk) : text_(std::move(text)), chunk_(chunk) {}
    std::size_t Read(char* out, std::size_t size) override {
        std::size_t n = std::min({size, chunk_, text_.size() - pos_});
        text_.copy(out, n, pos_);
        pos_ += n;
        return n;
    }

  private:
    std::string text_;
    std::size_t chunk_;
    std::size_t pos_ = 0;
};

std::string Trace(TXmlReader& reader) {
    std::string out;
    std::string value;
    while (reader.Next() != TXmlReader::TToken::End) {
        switch (reader.Token()) {
            case TXmlReader::TToken::StartElement:
                out += "<" + std::string(reader.Name());
                if (reader.Attribute("a", value)) out += " a=" + value;
                out += reader.SelfClosing() ? "/>" : ">";
                break;
            case TXmlReader::TToken::EndElement:
                out += "</" + std::string(reader.Name()) + ">";
                break;
            case TXmlReader::TToken::Text:
                out += "[" + std::string(reader.Text()) + "]";
                break;
            default:
                break;
        }
    }
    return out;
}

TEST(XmlReader, DecodesAndStreamsAlike) {
    const std::string document =
        "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- c --><x:root xmlns:x=\"u\" a='1 &amp; "
        "&lt;2&gt;'>"
        "<x:v "
        "a=\"&#x41;&#66;\"/>a\r\nb\rc&#13;d<![CDATA[<raw>&amp;]]><e>&quot;&apos;</e></x:root>\n";
    const std::string expected =
        "<x:root a=1 & <2>><x:v a=AB/></x:v>[a\nb\nc\rd][<raw>&amp;]<e>[\"']</e></x:root>";
    TXmlReader whole(document, u"f", "p");
    EXPECT_EQ(Trace(whole), expected);
    for (std::size_t chunk : {1u, 3u, 17u}) {
        TChunkInput input(document, chunk);
        TXmlReader streamed(input, u"f", "p");
        EXPECT_EQ(Trace(streamed), expected) << chunk;
    }
}

TEST(XmlReader, ResolvesNamespacesInScope) {
    // Each element as "{uri}local"; the default namespace changes and is undeclared inside,
    // "p" is rebound on a child and falls back to the outer binding after it ends.
    const std::string document =
        "<root xmlns=\"m\" xmlns:p=\"one\" a=\"own\" p:a=\"other\">"
        "<p:x xmlns:p=\"two\" p:id=\"r2\"/><p:y/><z xmlns=\"\"><w/></z>"
        "<d xmlns=\"inner\"/><e/></root>";
    auto trace = [](TXmlReader& reader) {
        std::string out, value;
        while (reader.Next() != TXmlReader::TToken::End) {
            if (reader.Token() != TXmlReader::TToken::StartElement) continue;
            out += "{" + std::string(reader.NamespaceUri()) + "}" + std::string(reader.LocalName());
            if (reader.Attribute("a", value)) out += " a=" + value;
            if (reader.NamespacedAttribute("one", "a", value)) out += " one:a=" + value;
            if (reader.NamespacedAttribute("two", "id", value)) out += " two:id=" + value;
            out += " ";
        }
        return out;
    };
    const std::string expected =
        "{m}root a=own one:a=other {two}x two:id=r2 {one}y {}z {}w {inner}d {m}e ";
    TXmlReader whole(document, u"f", "p");
    EXPECT_EQ(trace(whole), expected);
    TChunkInput input(document, 5);
    TXmlReader streamed(input, u"f", "p");
    EXPECT_EQ(trace(streamed), expected);

    // A prefix nobody declared gives no namespace, and the prefix stays to tell it from an
    // element that has none.
    TXmlReader undeclared("<a><q:b/></a>", u"f", "p");
    EXPECT_EQ(trace(undeclared), "{}a {}b ");
    TXmlReader again("<a><q:b/></a>", u"f", "p");
    again.Next();
    again.Next();
    EXPECT_EQ(again.Prefix(), "q");
    EXPECT_EQ(again.NamespaceUri(), "");
}

TEST(XmlReader, MalformedDocumentsGiveErrors) {
    // Each names the part, the byte where the reader stopped and what is wrong.
    const struct {
        const char* text;
        const char* where;
    } cases[] = {
        {"<a><b></a></b>", "10 バイト目: 終了タグが開始タグと対応していません"},
        {"<a>", "3 バイト目: 文書が途中で終わっています"},
        {"<a b=\"1></a>", "0 バイト目: タグが閉じていません"},
        {"<!DOCTYPE a [<!ENTITY x \"yyyy\">]><a>&x;</a>",
         "0 バイト目: 文書型宣言（DTD）や未対応の構文は使えません"},
        {"<a>&unknown;</a>", "3 バイト目: 未定義の実体参照があります"},
        {"<a>&#0;</a>", "3 バイト目: 文字参照が不正です"},
        {"<a/><b/>", "8 バイト目: ルート要素が複数あります"},
        {"text<a/>", "4 バイト目: ルート要素の外に文字があります"},
        {"<a b></a>", "5 バイト目: 属性が不正です"},
        {"", "0 バイト目: 文書が途中で終わっています"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TXmlReader reader(c.text, u"f", "p");
        EXPECT_EQ(test::ErrorOf([&] {
                      while (reader.Next() != TXmlReader::TToken::End) {
                      }
                  }),
                  std::string("ブックが壊れているため読めません（XML 部品「p」の ") + c.where +
                      "）。\nf");
    }
}

TEST(CellRef, ParsesAndNames) {
    TAreaRef area;
    ASSERT_TRUE(ParseAreaRef("$B$2:AA10", area));
    EXPECT_EQ(area.First.Row, 2u);
    EXPECT_EQ(area.First.Column, 2u);
    EXPECT_EQ(area.Last.Column, 27u);
    EXPECT_EQ(AreaName(area), "B2:AA10");
    EXPECT_EQ(AbsoluteAreaName(area), "$B$2:$AA$10");
    EXPECT_EQ(ColumnName(16384), "XFD");
    TCellRef ref;
    EXPECT_FALSE(ParseCellRef("XFE1", ref));
    EXPECT_FALSE(ParseCellRef("A1048577", ref));
    EXPECT_FALSE(ParseCellRef("A0", ref));
    EXPECT_FALSE(ParseCellRef("1A", ref));
}

TEST(NumberFormats, DatesAndCurrencies) {
    EXPECT_EQ(ClassifyNumberFormat(14, ""), TStyleKind::Date);
    EXPECT_EQ(ClassifyNumberFormat(0, ""), TStyleKind::General);
    EXPECT_EQ(ClassifyNumberFormat(164, "yyyy\\-mm\\-dd\\ h:mm"), TStyleKind::Date);
    EXPECT_EQ(ClassifyNumberFormat(164, "[$-411]ggge\"年\"m\"月\"d\"日\""), TStyleKind::Date);
    EXPECT_EQ(ClassifyNumberFormat(164, "\"¥\"#,##0;[Red]\\-\"¥\"#,##0"), TStyleKind::Currency);
    EXPECT_EQ(ClassifyNumberFormat(164, "[$¥-411]#,##0"), TStyleKind::Currency);
    EXPECT_EQ(ClassifyNumberFormat(164, "0.00E+00"), TStyleKind::General);
    EXPECT_EQ(ClassifyNumberFormat(164, "#,##0_);[Red]\\(#,##0\\)"), TStyleKind::General);
    EXPECT_EQ(UnescapeOoxml(u"a_x000D_b_x005F_x0041_"), u"a\rb_x0041_");
}

}  // namespace
}  // namespace qm::xlsx
