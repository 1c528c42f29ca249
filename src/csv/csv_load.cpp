// Loading a CSV file: kept apart from the parser so that code which only parses text does
// not pull in the file and decoding layers.
//
// A file's bytes and its text share one buffer of twice the file's size: the bytes are read
// into its upper half and decoded in place into its lower half (a byte never yields more than
// one UTF-16 unit, so the text never overtakes the bytes still to be decoded), and the parse
// then compacts the text where it lies. Only this buffer and the offset lists are fresh
// memory, and the file is gone through piece by piece: the calling thread reads a piece and
// splits the text decoded so far while a second thread decodes, each one paying for the first
// touch of the pages it fills. Decoders that carry state across characters (UTF-16, UTF-32,
// ISO-2022-JP, UTF-7, the code pages of iconv) decode the whole file at once instead.
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "csv/csv.h"
#include "csv/csv_parser.h"
#include "platform/file_stream.h"
#include "text/string_utility.h"

namespace qm {

namespace {

// The reading, decoding and parsing of one load.
class TPiecewiseLoad {
  public:
    TPiecewiseLoad(TStream& stream, std::size_t size, const TCsvLoadPieces& pieces)
        : stream_(stream),
          size_(size),
          piece_(std::max(pieces.pieceBytes, kMinDecodePiece)),
          buffer_(2 * size),
          bytes_(buffer_.data() + size),
          text_(reinterpret_cast<char16_t*>(buffer_.data())) {}

    // Reads the bytes up to at least end (all of them when end is the size).
    void ReadUpTo(std::size_t end) {
        while (read_ < end) {
            const std::size_t n = std::min(piece_, size_ - read_);
            stream_.ReadBuffer(bytes_ + read_, n);
            read_ += n;
            ProcessMessages();
        }
    }
    std::string_view BytesRead() const { return {reinterpret_cast<const char*>(bytes_), read_}; }
    TPageBuffer TakeBuffer() { return std::move(buffer_); }
    // Units of text decoded, before the parse dropped any.
    std::size_t DecodedUnits() const noexcept { return units_; }

    // Decodes and parses the file whose first skip bytes are a mark to drop. Returns the
    // length of the text, which is then at the start of the buffer.
    std::size_t Run(TPieceDecoder decode, std::size_t skip, bool parallel, TOffsetList& cellStarts,
                    TOffsetList& rowFirstCell, std::uint32_t& fieldCount) {
        decode_ = decode;
        consumed_ = skip;
        csv_detail::TInPlaceParser parser(text_, cellStarts, rowFirstCell);
        if (!(parallel && size_ - skip > piece_ && RunInParallel(parser))) {
            while (consumed_ < size_) {
                const std::size_t end = std::min(size_, consumed_ + piece_);
                ReadUpTo(end);
                DecodePiece(end);
                parser.Feed(units_, consumed_ == size_);
                ProcessMessages();
            }
            if (size_ == skip) parser.Feed(0, true);
        }
        auto [length, fields] = parser.Result();
        fieldCount = fields;
        return length;
    }

  private:
    // Decodes the bytes from consumed_ up to end, or up to where a character cut by end begins.
    void DecodePiece(std::size_t end) {
        const TDecodedPiece done =
            decode_(bytes_ + consumed_, end - consumed_, end == size_, text_ + units_);
        consumed_ += done.read;
        units_ += done.written;
    }

    // The decoding thread: decodes whatever has been read, piece by piece, and says how much
    // text there is after each piece.
    void DecodeAsRead() {
        try {
            std::size_t consumed = consumed_;
            while (consumed < size_) {
                std::size_t end;
                {
                    // Enough bytes that a character cut at their end leaves some to decode.
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] {
                        return stop_ || shared_.read == size_ ||
                               shared_.read >= consumed + kMinDecodePiece;
                    });
                    if (stop_) return;
                    end = std::min(shared_.read, consumed + piece_);
                }
                const TDecodedPiece done =
                    decode_(bytes_ + consumed, end - consumed, end == size_, text_ + units_);
                consumed += done.read;
                units_ += done.written;
                std::lock_guard lock(mutex_);
                shared_.units = units_;
                shared_.decoded = consumed == size_;
                changed_.notify_all();
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            shared_.error = std::current_exception();
            shared_.decoded = true;
            changed_.notify_all();
        }
    }

    // False when the second thread cannot be had; nothing has been done then.
    bool RunInParallel(csv_detail::TInPlaceParser& parser) {
        shared_.read = read_;
        std::thread decoder;
        try {
            decoder = std::thread([this] { DecodeAsRead(); });
        } catch (const std::system_error&) {
            return false;
        }
        // However this thread leaves, the decoder stops and is waited for first.
        struct TJoin {
            TPiecewiseLoad& load;
            std::thread& thread;
            ~TJoin() {
                {
                    std::lock_guard lock(load.mutex_);
                    load.stop_ = true;
                    load.changed_.notify_all();
                }
                thread.join();
            }
        } join{*this, decoder};

        std::size_t fed = 0;
        for (;;) {
            if (read_ < size_) {
                ReadUpTo(std::min(size_, read_ + piece_));
                std::lock_guard lock(mutex_);
                shared_.read = read_;
                changed_.notify_all();
            }
            std::size_t units;
            bool decoded;
            {
                std::unique_lock lock(mutex_);
                // With every byte read there is nothing else to do than wait for text.
                if (read_ == size_)
                    changed_.wait(lock, [&] { return shared_.decoded || shared_.units > fed; });
                if (shared_.error) std::rethrow_exception(shared_.error);
                units = shared_.units;
                decoded = shared_.decoded;
            }
            if (units > fed || decoded) {
                // At most a piece at a time, with a turn for the user interface after each.
                const std::size_t upTo = std::min(units, fed + piece_);
                const bool last = decoded && upTo == units;
                parser.Feed(upTo, last);
                fed = upTo;
                ProcessMessages();
                if (last) return true;
            }
        }
    }

    TStream& stream_;
    const std::size_t size_;
    const std::size_t piece_;
    TPageBuffer buffer_;
    unsigned char* const bytes_;
    char16_t* const text_;
    TPieceDecoder decode_ = nullptr;
    std::size_t read_ = 0;      // bytes read (calling thread)
    std::size_t consumed_ = 0;  // bytes decoded
    std::size_t units_ = 0;     // units of text decoded

    // Between the two threads.
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    struct {
        std::size_t read = 0;
        std::size_t units = 0;
        bool decoded = false;
        std::exception_ptr error;
    } shared_;
};

}  // namespace

bool TCsv::LoadFromFile(const std::u16string& path, TCsvLoadInfo* info) noexcept {
    // A loaded table is never reloaded; spare the read.
    if (!IsEmpty()) return false;
    try {
        TFileStream stream(path);
        return LoadFromStream(stream, info);
    } catch (...) {
        // Missing or unreadable files: "not loaded".
        return false;
    }
}

bool TCsv::LoadFromStream(TStream& stream, TCsvLoadInfo* info,
                          const TCsvLoadPieces& pieces) noexcept {
    if (!IsEmpty()) return false;
    try {
        stream.SetPosition(0);
        const auto size = static_cast<std::size_t>(std::max<std::int64_t>(stream.GetSize(), 0));
        TPiecewiseLoad load(stream, size, pieces);

        // The verdict on the encoding: from a sample, or from the whole file when the sample
        // shows no multi-byte text.
        const std::size_t sampleLength = std::min<std::size_t>(size, kDetectionSampleSize);
        load.ReadUpTo(sampleLength);
        const auto* sample = reinterpret_cast<const std::uint8_t*>(load.BytesRead().data());
        TEncodingScores scores;
        TDetectedEncoding encoding =
            CheckEncodingScored(sample, static_cast<std::int64_t>(sampleLength), 0, scores);
        if (NeedsWholeFileCheck(encoding, scores, static_cast<std::int64_t>(sampleLength),
                                static_cast<std::int64_t>(size))) {
            load.ReadUpTo(size);
            encoding = CheckEncoding(sample, static_cast<std::int64_t>(size), 0);
        }
        const TCodePage codePage = EncodingToCodePage(encoding);
        if (info) *info = TCsvLoadInfo{encoding, codePage};

        const TPieceDecoder decode = PieceDecoderFor(codePage);
        if (!decode) {
            load.ReadUpTo(size);
            std::u16string text = DecodeBytes(load.BytesRead(), codePage);
            load.TakeBuffer().Release();
            return Parse(std::move(text));
        }

        TOffsetList cellStarts;
        TOffsetList rowFirstCell;
        std::uint32_t fieldCount = 0;
        const std::size_t skip = DroppedMarkLength(load.BytesRead(), codePage);
        const std::size_t length =
            load.Run(decode, skip, pieces.parallel, cellStarts, rowFirstCell, fieldCount);
        // Offsets are 32-bit; the last one may equal the text's length.
        if (load.DecodedUnits() >= std::numeric_limits<std::uint32_t>::max()) return false;
        if (rowFirstCell.empty()) return true;  // nothing but separators: still empty
        pages_ = load.TakeBuffer();
        pages_.Shrink(length * sizeof(char16_t));
        Adopt(reinterpret_cast<const char16_t*>(pages_.data()), length, fieldCount, cellStarts,
              rowFirstCell);
        return true;
    } catch (...) {
        // Unreadable or short files, exhausted memory: all mean "not loaded".
        return false;
    }
}

}  // namespace qm
