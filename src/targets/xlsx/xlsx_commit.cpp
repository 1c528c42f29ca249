// Committing appended rows: the package is written once, beside the workbook, and renamed
// over it. Entries that did not change are copied byte for byte; the sheet is streamed from
// the old file with its edits spliced in, so its size does not matter.
#include <algorithm>
#include <map>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/yield.h"
#include "targets/xlsx/ooxml_names.h"
#include "targets/xlsx/xlsx_internal.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

// A changed part: raw deflate pieces that form one stream.
struct TNewPart {
    std::vector<std::string> Owned;
    std::vector<std::string_view> Pieces;
    std::uint32_t Crc = 0;
    std::uint64_t Size = 0;

    template <class TCompressed>
    void Take(TCompressed& deflater) {
        for (std::string& piece : deflater.TakeOutput())
            Owned.push_back(std::move(piece));
    }
    void Seal() {
        for (const std::string& piece : Owned)
            Pieces.push_back(piece);
    }
};

// The user interface's turn while the commit works, and the point where a cancel stops it.
void CommitTurn(const std::atomic<bool>* cancel) {
    ProcessMessages();
    if (cancel && cancel->load(std::memory_order_relaxed)) throw Error(kCancelledMessage);
}

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

TNewPart Compress(std::string_view xml) {
    TDeflater deflater(6);
    deflater.Add(xml);
    deflater.Flush(true);
    TNewPart part;
    part.Take(deflater);
    part.Seal();
    part.Crc = deflater.Crc();
    part.Size = deflater.InputSize();
    return part;
}

// The start tag with its "ref" attribute set to 'ref'.
std::string WithRef(std::string_view tag, const std::string& ref) {
    std::string out(tag);
    for (std::size_t at = out.find("ref="); at != std::string::npos;
         at = out.find("ref=", at + 1)) {
        char before = at > 0 ? out[at - 1] : ' ';
        if (before != ' ' && before != '\t' && before != '\n' && before != '\r') continue;
        if (at + 4 >= out.size()) break;
        char quote = out[at + 4];
        std::size_t close = out.find(quote, at + 5);
        if (close == std::string::npos) break;
        out.replace(at + 5, close - at - 5, ref);
        return out;
    }
    return out;
}

struct TEdit {
    std::uint64_t Start, End;  // the replaced range of the old bytes
    std::string Text;          // what goes in its place
    bool Rows = false;         // the appended rows go after Text
    bool RefOnly = false;      // keep the old tag, with its ref set to Text
};

// Feeds the content [base, base + text.size()) through 'edits' (in order, all inside it) to
// 'out', which becomes 'after' at the edit the rows follow.
void FeedEdited(std::string_view text, std::uint64_t base, const std::vector<TEdit>& edits,
                TDeflater*& out, TDeflater* after) {
    std::uint64_t at = base;
    for (const TEdit& edit : edits) {
        out->Add(text.substr(static_cast<std::size_t>(at - base),
                             static_cast<std::size_t>(edit.Start - at)));
        std::string_view old = text.substr(static_cast<std::size_t>(edit.Start - base),
                                           static_cast<std::size_t>(edit.End - edit.Start));
        out->Add(edit.RefOnly ? WithRef(old, edit.Text) : edit.Text);
        if (edit.Rows) out = after;
        at = edit.End;
    }
    out->Add(text.substr(static_cast<std::size_t>(at - base)));
}

// The sheet with its edits, keeping the old compressed blocks between the first edit (the
// dimension, near the start) and the others (near the end) as they are: only the head and the
// end are compressed again. False when the old stream does not allow it (a small part, or
// edits that are not apart); the caller then rewrites the part whole.
bool SpliceSheet(const TPackage& package, const TZipEntry& entry, const std::vector<TEdit>& edits,
                 TSheetAppend& state, const std::atomic<bool>* cancel, TNewPart& part) {
    if (!state.Stream || edits.size() < 2 || edits.front().Rows) return false;
    const TStreamMap& map = *state.Stream;
    TSplicePlan plan;
    if (!PlanSplice(map, edits.front().End, edits[1].Start, plan)) return false;
    std::string_view head, tail, window;
    if (!map.Content(0, plan.Keep.Offset, head) ||
        !map.Content(plan.Resume.Offset, map.Size, tail) ||
        !map.Content(plan.Resume.Offset - std::min<std::uint64_t>(plan.Resume.Offset, 32768),
                     plan.Resume.Offset, window))
        return false;

    TDeflater headOut(6);
    TDeflater* out = &headOut;
    FeedEdited(head, 0, {edits.front()}, out, nullptr);
    headOut.Flush(false);
    CommitTurn(cancel);
    TKeptBlocks kept =
        CopyKeptBlocks(package.Archive(), entry, plan, [cancel] { CommitTurn(cancel); });
    TDeflater before(6), after(6);
    before.Continue(window, kept.LastBitCount, kept.LastBits);
    out = &before;
    FeedEdited(tail, plan.Resume.Offset, std::vector<TEdit>(edits.begin() + 1, edits.end()), out,
               &after);
    state.Rows->Flush(false);
    before.Flush(false);
    after.Flush(true);

    part.Take(headOut);
    for (std::string& piece : kept.Pieces)
        part.Owned.push_back(std::move(piece));
    part.Take(before);
    part.Take(*state.Rows);
    part.Take(after);
    part.Seal();
    std::uint32_t crc = CombineCrc(headOut.Crc(), kept.Crc, kept.Size);
    crc = CombineCrc(crc, before.Crc(), before.InputSize());
    crc = CombineCrc(crc, state.Rows->Crc(), state.Rows->InputSize());
    part.Crc = CombineCrc(crc, after.Crc(), after.InputSize());
    part.Size = headOut.InputSize() + kept.Size + before.InputSize() + state.Rows->InputSize() +
                after.InputSize();
    return true;
}

// Streams the sheet part through its edits: segment before the rows, the rows, the rest.
TNewPart RewriteSheet(const TPackage& package, const TZipEntry& entry, std::vector<TEdit> edits,
                      TSheetAppend& state, const std::atomic<bool>* cancel) {
    std::sort(edits.begin(), edits.end(),
              [](const TEdit& a, const TEdit& b) { return a.Start < b.Start; });
    TNewPart spliced;
    if (SpliceSheet(package, entry, edits, state, cancel, spliced)) return spliced;
    TZipEntryReader reader(package.Archive(), entry);
    std::string buffer(256u << 10, '\0');
    std::size_t have = 0, used = 0;
    std::uint64_t position = 0;  // offset of buffer[used]
    bool ended = false;
    auto next = [&]() -> bool {  // refills the buffer; false at the end
        if (used < have) return true;
        if (ended) return false;
        CommitTurn(cancel);
        have = reader.Read(buffer.data(), buffer.size());
        used = 0;
        if (have == 0) ended = true;
        return have > 0;
    };
    auto copyUntil = [&](TDeflater& out, std::uint64_t until, std::string* keep) {
        while (position < until && next()) {
            std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(have - used, until - position));
            std::string_view piece(buffer.data() + used, n);
            if (keep)
                keep->append(piece);
            else
                out.Add(piece);
            used += n;
            position += n;
        }
        if (position < until && until != UINT64_MAX)
            FailCorrupt(package.FileName(), u"シートの部品が途中で変わりました");
    };

    auto before = std::make_unique<TDeflater>(1);
    auto after = std::make_unique<TDeflater>(1);
    TDeflater* out = before.get();
    for (const TEdit& edit : edits) {
        copyUntil(*out, edit.Start, nullptr);
        std::string old;
        copyUntil(*out, edit.End, &old);
        if (edit.RefOnly)
            out->Add(WithRef(old, edit.Text));
        else
            out->Add(edit.Text);
        if (edit.Rows) out = after.get();
    }
    copyUntil(*out, UINT64_MAX, nullptr);
    char probe;
    if (reader.Read(&probe, 1) != 0)
        FailCorrupt(package.FileName(), u"シートの部品が途中で変わりました");

    state.Rows->Flush(false);
    before->Flush(false);
    after->Flush(true);
    TNewPart part;
    part.Take(*before);
    part.Take(*state.Rows);
    part.Take(*after);
    part.Seal();
    part.Crc = CombineCrc(CombineCrc(before->Crc(), state.Rows->Crc(), state.Rows->InputSize()),
                          after->Crc(), after->InputSize());
    part.Size = before->InputSize() + state.Rows->InputSize() + after->InputSize();
    return part;
}

std::string SheetPrefixOf(const std::string& formula) {
    std::size_t bang = formula.rfind('!');
    return bang == std::string::npos ? std::string() : formula.substr(0, bang);
}

}  // namespace

void TXlsxEngine::Commit(const std::atomic<bool>* cancel) {
    if (appends_.empty()) return;
    const TPackage& package = *package_;
    const std::u16string& path = info_.DataSource;
    RefuseIfLockedByOtherProgram(path);
    RefuseIfNotWritable(path);
    // Fails early when the file changed; the commit protocol checks again right before the
    // rename, under the writers' lock.
    TFileIdentity now;
    if (!CurrentIdentity(ResolvedNativePath(path), now) || !(now == source_->Identity()))
        throw Error(
            u"ブックを開いた後に、他のプログラムがファイルを変更しました。"
            u"もう一度ブックを選び直してからやり直してください。\n" +
            path);

    std::map<std::string, TNewPart> changed;  // by lower-case part name
    std::map<std::uint64_t, std::pair<std::uint64_t, std::string>>
        workbookEdits;  // start -> (end, text)
    const auto& names = package.DefinedNames();

    for (auto& [sheet, statePtr] : appends_) {
        TSheetAppend& state = *statePtr;
        const TSheetInfo& info = package.Sheets()[static_cast<std::size_t>(sheet)];
        const TSheetLayout& layout = state.Layout;
        std::uint32_t lastRow = state.NextRow - 1;
        if (lastRow == state.LastRow && state.Rows->InputSize() == 0) continue;
        std::string pre = layout.Prefix.empty() ? std::string() : layout.Prefix + ":";
        std::vector<TEdit> edits;

        // The used range grows to the new rows and columns.
        TAreaRef dimension{{1, 1},
                           {std::max<std::uint32_t>(state.LastRow, 1),
                            std::max<std::uint32_t>(state.LastColumn, 1)}};
        if (layout.DimensionValid) dimension = layout.Dimension;
        if (state.MaxColumn > 0) {
            if (state.LastRow == 0 && !layout.DimensionValid) {
                dimension.First = {state.LastRow + 1, state.MinColumn};
                dimension.Last.Column = state.MaxColumn;
            }
            dimension.First.Column = std::min(dimension.First.Column, state.MinColumn);
            dimension.Last.Column = std::max(dimension.Last.Column, state.MaxColumn);
        }
        dimension.Last.Row = std::max(dimension.Last.Row, lastRow);
        std::string dimensionTag = "<" + pre + "dimension ref=\"" + AreaName(dimension) + "\"/>";
        if (layout.HasDimension)
            edits.push_back({layout.DimensionStart, layout.DimensionEnd, dimensionTag});
        else
            edits.push_back({layout.DimensionInsert, layout.DimensionInsert, dimensionTag});

        if (layout.SheetDataSelfClosing) {
            edits.push_back(
                {layout.SheetDataStart, layout.SheetDataEnd, "<" + pre + "sheetData>", true});
            edits.push_back({layout.SheetDataEnd, layout.SheetDataEnd, "</" + pre + "sheetData>"});
        } else {
            edits.push_back({layout.SheetDataClose, layout.SheetDataClose, std::string(), true});
        }

        // An autofilter that ended at the old last row covers the new rows too, with its
        // hidden defined name.
        bool rowsAdded = lastRow > state.LastRow;
        if (rowsAdded && layout.HasAutoFilter && layout.AutoFilter.Last.Row == state.LastRow) {
            TAreaRef filter = layout.AutoFilter;
            filter.Last.Row = lastRow;
            edits.push_back(
                {layout.AutoFilterStart, layout.AutoFilterEnd, AreaName(filter), false, true});
            for (std::size_t i = 0; i < names.size(); ++i) {
                const TDefinedName& name = names[i];
                if (name.Name == u"_xlnm._FilterDatabase" && name.LocalSheet == sheet &&
                    name.AreaSheet == sheet && name.Area.Last.Row == state.LastRow &&
                    !state.GrownNames.count(static_cast<int>(i))) {
                    TAreaRef area = name.Area;
                    area.Last.Row = lastRow;
                    state.GrownNames[static_cast<int>(i)] = area;
                }
            }
        }

        const TZipEntry* sheetEntry = package.FindPart(info.PartName);
        changed[LowerAscii(sheetEntry->Name)] =
            RewriteSheet(package, *sheetEntry, edits, state, cancel);

        // Excel tables whose last row was the sheet's last row grow with it.
        for (const TListObject& table : state.Tables) {
            if (!rowsAdded || table.Ref.Last.Row != state.LastRow) continue;
            if (table.Ref.Last.Column < state.MinColumn || table.Ref.First.Column > state.MaxColumn)
                continue;
            TAreaRef grown = table.Ref;
            grown.Last.Row = lastRow;
            std::string xml = table.Xml;
            std::string newRef = AreaName(grown);
            if (table.HasAutoFilter) {
                std::string tag = xml.substr(table.AutoFilterTagStart,
                                             table.AutoFilterTagEnd - table.AutoFilterTagStart);
                xml.replace(table.AutoFilterTagStart, tag.size(), WithRef(tag, newRef));
            }
            std::string tag =
                xml.substr(table.TableTagStart, table.TableTagEnd - table.TableTagStart);
            xml.replace(table.TableTagStart, tag.size(), WithRef(tag, newRef));
            const TZipEntry* entry = package.FindPart(table.Part);
            changed[LowerAscii(entry->Name)] = Compress(xml);
        }

        for (const auto& [index, area] : state.GrownNames) {
            const TDefinedName& name = names[static_cast<std::size_t>(index)];
            std::string text;
            AppendEscapedUtf8(text, SheetPrefixOf(name.Formula) + "!" + AbsoluteAreaName(area));
            workbookEdits[name.TextStart] = {name.TextEnd, text};
        }
    }
    if (changed.empty()) return;

    if (!workbookEdits.empty()) {
        std::string xml = package.ReadPart(package.WorkbookPart(), 256u << 20);
        std::string out;
        std::uint64_t at = 0;
        for (const auto& [start, edit] : workbookEdits) {
            if (start < at || edit.first > xml.size())
                FailCorrupt(package.FileName(), u"ブックの部品が不正です");
            out.append(xml, static_cast<std::size_t>(at), static_cast<std::size_t>(start - at));
            out += edit.second;
            at = edit.first;
        }
        out.append(xml, static_cast<std::size_t>(at), std::string::npos);
        changed[LowerAscii(package.FindPart(package.WorkbookPart())->Name)] = Compress(out);
    }

    if (addedDateStyle_ >= 0) {
        // A date needs a date style and the workbook had none: add "yyyy/m/d"-like built-in 14.
        std::string xml = package.ReadPart(package.StylesPart(), 256u << 20);
        TXmlReader reader(xml, package.FileName(), package.StylesPart());
        std::uint64_t tagStart = 0, tagEnd = 0, close = 0;
        std::string prefix;
        while (reader.Next() != TXmlReader::TToken::End) {
            if (reader.Token() != TXmlReader::TToken::StartElement || reader.Depth() == 1) continue;
            if (reader.Depth() == 2 && IsSheetElement(reader, "cellXfs") && !reader.SelfClosing()) {
                tagStart = reader.TokenStart();
                tagEnd = reader.TokenEnd();
                prefix = std::string(reader.Prefix());
                reader.SkipElement();
                close = reader.TokenStart();
            } else {
                reader.SkipElement();
            }
        }
        if (close == 0) FailCorrupt(package.FileName(), u"書式の部品にセルの書式一覧がありません");
        std::string pre = prefix.empty() ? std::string() : prefix + ":";
        std::string tag = xml.substr(tagStart, tagEnd - tagStart);
        std::string count = std::to_string(addedDateStyle_ + 1);
        std::size_t at = tag.find("count=\"");
        if (at != std::string::npos) {
            std::size_t end = tag.find('"', at + 7);
            tag.replace(at + 7, end - at - 7, count);
        }
        std::string out = xml.substr(0, tagStart) + tag + xml.substr(tagEnd, close - tagEnd) + "<" +
                          pre +
                          "xf numFmtId=\"14\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
                          "applyNumberFormat=\"1\"/>" +
                          xml.substr(close);
        changed[LowerAscii(package.FindPart(package.StylesPart())->Name)] = Compress(out);
    }

    {
        TReplaceOptions options;
        options.Expected = &source_->Identity();
        TAtomicFile file(path, options);
        TZipWriter writer(file, [cancel] { CommitTurn(cancel); });
        for (const TZipEntry& entry : package.Archive().Entries()) {
            auto found = changed.find(LowerAscii(entry.Name));
            if (found == changed.end())
                writer.CopyEntry(package.Archive(), entry);
            else
                writer.AddDeflatedEntry(entry, found->second.Pieces, found->second.Crc,
                                        found->second.Size);
        }
        writer.Finish();
        // The last moment a cancel is honoured: from here on the new file replaces the old.
        CommitTurn(cancel);
        file.Commit();
    }
    // The file on disk is now the new one: read it again so that tables see their new rows.
    // Should that fail, the commit still stands; the old view then refuses further commits,
    // because the file's identity no longer matches it.
    appends_.clear();
    try {
        Load();
    } catch (const Error&) {
    }
}

}  // namespace qm::xlsx
