#include "targets/xlsx/parallel_deflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/error.h"

namespace qm::xlsx {

namespace {

constexpr std::size_t kWindow = 32u << 10;

std::function<void(std::uint64_t)>& PieceHook() {
    static std::function<void(std::uint64_t)> hook;
    return hook;
}

[[noreturn]] void CannotCompress() {
    throw Error(u"データを圧縮できません。");
}

}  // namespace

// One ISA-L stream, reset for every piece: a piece's output depends only on its bytes and its
// dictionary, whichever compressor made it. ISA-L compresses worksheet XML several times as fast
// as zlib at its fastest level, and smaller.
class TParallelDeflater::TCompressor {
  public:
    explicit TCompressor(int level)
        : stream_(std::make_unique<isal_zstream>()), level_(static_cast<std::uint32_t>(level)) {
        if (level < ISAL_DEF_MIN_LEVEL || level > ISAL_DEF_MAX_LEVEL) CannotCompress();
        // The buffer each level needs beside the stream (its hash table and tokens).
        static constexpr std::size_t kLevelBuffer[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT,
                                                       ISAL_DEF_LVL2_DEFAULT,
                                                       ISAL_DEF_LVL3_DEFAULT};
        levelBuffer_.resize(kLevelBuffer[level]);
    }

    TDone Compress(const TJob& job) {
        if (PieceHook()) PieceHook()(job.Number);
        TDone done;
        done.Size = job.Input.size();
        done.Crc = crc32_gzip_refl(0, reinterpret_cast<const std::uint8_t*>(job.Input.data()),
                                   job.Input.size());
        isal_zstream& z = *stream_;
        isal_deflate_init(&z);
        z.level = level_;
        z.level_buf = levelBuffer_.data();
        z.level_buf_size = static_cast<std::uint32_t>(levelBuffer_.size());
        z.gzip_flag = IGZIP_DEFLATE;
        z.flush = SYNC_FLUSH;
        z.end_of_stream = job.Final ? 1 : 0;
        if (!job.Dictionary.empty() &&
            isal_deflate_set_dict(
                &z, reinterpret_cast<std::uint8_t*>(const_cast<char*>(job.Dictionary.data())),
                static_cast<std::uint32_t>(job.Dictionary.size())) != COMP_OK)
            CannotCompress();
        z.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(job.Input.data()));
        z.avail_in = static_cast<std::uint32_t>(job.Input.size());
        // Compressed into a buffer kept for the next piece, then copied out at its size: the
        // output of a million rows stays as small as it compresses. The room covers data that
        // does not compress (stored blocks); should it not do, the stream goes on in more.
        std::size_t used = 0;
        std::size_t room = job.Input.size() + job.Input.size() / 8 + 1024;
        for (;;) {
            if (scratch_.size() < used + room) scratch_.resize(used + room);
            z.next_out = reinterpret_cast<std::uint8_t*>(scratch_.data() + used);
            z.avail_out = static_cast<std::uint32_t>(room);
            if (isal_deflate(&z) != COMP_OK) CannotCompress();
            used += room - z.avail_out;
            const bool ended = job.Final ? z.internal_state.state == ZSTATE_END
                                         : z.avail_in == 0 && z.avail_out != 0 &&
                                               z.internal_state.state == ZSTATE_NEW_HDR;
            if (ended) break;
            room = 64u << 10;
        }
        done.Output.assign(scratch_.data(), used);
        return done;
    }

  private:
    std::unique_ptr<isal_zstream> stream_;  // large: kept off the stack
    std::uint32_t level_;
    std::vector<std::uint8_t> levelBuffer_;
    std::string scratch_;
};

void TParallelDeflater::SetPieceHookForTests(std::function<void(std::uint64_t)> hook) {
    PieceHook() = std::move(hook);
}

unsigned DefaultDeflateThreads() {
    if (const char* text = std::getenv("QUILLOMAT_DEFLATE_THREADS")) {
        unsigned value = 0;
        const char* end = text + std::strlen(text);
        auto result = std::from_chars(text, end, value);
        if (result.ec == std::errc() && result.ptr == end && value >= 1 && value <= 64)
            return value;
    }
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

TParallelDeflater::TParallelDeflater(int level, unsigned threads)
    : level_(level),
      threads_(threads == 0 ? DefaultDeflateThreads() : threads),
      crc_(static_cast<std::uint32_t>(crc32(0, nullptr, 0))) {}

TParallelDeflater::~TParallelDeflater() {
    StopWorkers();
}

void TParallelDeflater::StartWorkers() {
    // The compressors are made before any thread starts, so that a failure throws here.
    for (unsigned i = 0; i < threads_; ++i)
        compressors_.push_back(std::make_unique<TCompressor>(level_));
    try {
        for (auto& compressor : compressors_)
            workers_.emplace_back([this, c = compressor.get()] { Work(*c); });
    } catch (const std::system_error&) {
        // The system would not start a thread: the caller's thread compresses alone, which
        // writes the same bytes.
        StopWorkers();
        compressors_.clear();
        threads_ = 1;
    } catch (...) {
        StopWorkers();
        throw;
    }
}

void TParallelDeflater::StopWorkers() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    jobReady_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
}

void TParallelDeflater::Work(TCompressor& compressor) {
    std::unique_lock lock(mutex_);
    for (;;) {
        jobReady_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        TJob job = std::move(jobs_.front());
        jobs_.pop_front();
        if (error_) continue;  // the stream is lost already
        lock.unlock();
        TDone done;
        std::exception_ptr error;
        try {
            done = compressor.Compress(job);
            done.SpareInput = std::move(job.Input);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error) {
            if (!error_) error_ = error;
        } else {
            done_.emplace(job.Number, std::move(done));
        }
        jobDone_.notify_all();
    }
}

void TParallelDeflater::Absorb(TDone& done) {
    crc_ = static_cast<std::uint32_t>(
        crc32_combine64(crc_, done.Crc, static_cast<z_off64_t>(done.Size)));
    if (!done.Output.empty()) output_.push_back(std::move(done.Output));
    if (done.SpareInput.capacity() >= kPieceSize) {
        done.SpareInput.clear();
        spare_.push_back(std::move(done.SpareInput));
    }
    ++collected_;
}

void TParallelDeflater::Collect(std::unique_lock<std::mutex>& lock, bool all) {
    // A few pieces may wait for a thread while it works on others; beyond that the caller waits.
    const std::uint64_t limit = all ? 0 : 2u * threads_;
    for (;;) {
        if (error_) std::rethrow_exception(error_);
        auto next = done_.find(collected_);
        if (next != done_.end()) {
            TDone done = std::move(next->second);
            done_.erase(next);
            Absorb(done);
            continue;
        }
        if (submitted_ - collected_ <= limit) return;
        jobDone_.wait(lock);
    }
}

void TParallelDeflater::Submit(bool final, bool flushing) {
    TJob job;
    job.Number = submitted_;
    job.Final = final;
    job.Input = std::move(current_);
    job.Dictionary = dictionary_;
    // The dictionary of the next piece: the last 32 KB of everything given so far.
    if (job.Input.size() >= kWindow) {
        dictionary_.assign(job.Input, job.Input.size() - kWindow, kWindow);
    } else {
        dictionary_ += job.Input;
        if (dictionary_.size() > kWindow) dictionary_.erase(0, dictionary_.size() - kWindow);
    }
    current_.clear();
    if (!spare_.empty()) {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    }
    ++submitted_;
    // A flush before the first whole piece compresses on the caller's thread: a few rows are
    // not worth starting threads for.
    if (threads_ > 1 && workers_.empty() && !flushing) StartWorkers();
    if (workers_.empty()) {
        if (!inline_) inline_ = std::make_unique<TCompressor>(level_);
        TDone done = inline_->Compress(job);
        done.SpareInput = std::move(job.Input);
        Absorb(done);
        return;
    }
    std::unique_lock lock(mutex_);
    jobs_.push_back(std::move(job));
    jobReady_.notify_one();
    Collect(lock, false);
}

void TParallelDeflater::Add(std::string_view data) {
    inputSize_ += data.size();
    while (!data.empty()) {
        if (current_.capacity() < kPieceSize) current_.reserve(kPieceSize);
        const std::size_t n = std::min(data.size(), kPieceSize - current_.size());
        current_.append(data.substr(0, n));
        data.remove_prefix(n);
        if (current_.size() == kPieceSize) Submit(false, false);
    }
}

void TParallelDeflater::Flush(bool final) {
    // A segment ended on a byte boundary needs no more bytes; the end of the stream always
    // needs its last block, empty or not.
    if (!current_.empty() || final) Submit(final, true);
    if (workers_.empty()) return;
    std::unique_lock lock(mutex_);
    Collect(lock, true);
}

std::vector<std::string> TParallelDeflater::TakeOutput() {
    return std::move(output_);
}

}  // namespace qm::xlsx
