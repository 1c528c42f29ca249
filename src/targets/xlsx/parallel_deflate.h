// Raw deflate of one long stream on several threads, by ISA-L. The input is cut into pieces
// of a fixed size; each piece is compressed on its own, primed with the 32 KB before it as the
// dictionary, and ended on a byte boundary (sync flush), so the pieces' outputs laid end to end
// form one valid stream whose CRC is the pieces' CRCs combined. The cuts depend only on the
// bytes given and the Flush calls, never on the threads: the output is the same for any number
// of them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qm::xlsx {

class TParallelDeflater {
  public:
    // Input bytes per piece.
    static constexpr std::size_t kPieceSize = 1u << 20;

    // level: ISA-L's level, 0 (fastest) to 3. threads: how many threads compress; 1 compresses on
    // the caller's thread within Add and Flush. 0 takes DefaultDeflateThreads().
    explicit TParallelDeflater(int level, unsigned threads = 0);
    // Stops the threads (a piece being compressed is finished first) and drops the output.
    ~TParallelDeflater();
    TParallelDeflater(const TParallelDeflater&) = delete;
    TParallelDeflater& operator=(const TParallelDeflater&) = delete;

    // Waits while a few pieces are already waiting for a thread, so that memory stays bounded
    // when the caller makes data faster than the threads compress it. Rethrows the error of a
    // failed piece.
    void Add(std::string_view data);
    // Compresses everything given and waits for it. final: ends the stream; otherwise ends the
    // segment on a byte boundary, after which Add may go on.
    void Flush(bool final);
    // The compressed pieces in order; complete after Flush.
    std::vector<std::string> TakeOutput();
    // Of the data given up to the last Flush.
    std::uint32_t Crc() const noexcept { return crc_; }
    std::uint64_t InputSize() const noexcept { return inputSize_; }

    // For tests: called before each piece is compressed, on the thread that compresses it,
    // with the piece's number; what it throws fails the piece as a failure of zlib would.
    static void SetPieceHookForTests(std::function<void(std::uint64_t)> hook);

  private:
    struct TJob {
        std::uint64_t Number = 0;
        std::string Input;
        std::string Dictionary;
        bool Final = false;
    };
    struct TDone {
        std::string Output;
        std::uint32_t Crc = 0;
        std::uint64_t Size = 0;
        std::string SpareInput;  // handed back for reuse
    };
    class TCompressor;

    void Submit(bool final, bool flushing);
    void StartWorkers();
    void StopWorkers();
    void Work(TCompressor& compressor);
    // Moves finished pieces, in order, to the output; waits for all when 'all'.
    void Collect(std::unique_lock<std::mutex>& lock, bool all);
    void Absorb(TDone& done);

    int level_;
    unsigned threads_;
    std::string current_;     // the piece being filled
    std::string dictionary_;  // the last 32 KB before current_
    bool dictionaryValid_ = false;
    std::vector<std::string> spare_;  // input buffers for reuse
    std::vector<std::string> output_;
    std::uint32_t crc_;
    std::uint64_t inputSize_ = 0;
    std::uint64_t submitted_ = 0, collected_ = 0;

    // Shared with the threads, under mutex_.
    std::mutex mutex_;
    std::condition_variable jobReady_, jobDone_;
    std::deque<TJob> jobs_;
    std::map<std::uint64_t, TDone> done_;
    std::exception_ptr error_;
    bool stopping_ = false;
    std::vector<std::unique_ptr<TCompressor>> compressors_;  // one per thread
    std::vector<std::thread> workers_;                       // started with the first whole piece
    std::unique_ptr<TCompressor> inline_;
};

// The number of compressing threads an import uses: the processor's cores (at most 8), or the
// environment variable QUILLOMAT_DEFLATE_THREADS when it holds a number from 1 to 64.
unsigned DefaultDeflateThreads();

}  // namespace qm::xlsx
