#pragma once
// The column loop on two cores. The caller's thread asks for the columns in order, one at a
// time, so it can keep its window alive between them; the columns are cut into blocks. A
// worker thread claims blocks ahead of the caller as it comes free (never the one right after
// the caller's) and analyses them into a few blocks of its own, copied in when the caller
// reaches them; the caller analyses the blocks nobody claimed straight into the image.
// Claiming as they go keeps both cores busy whichever is slowed. Each analyser primes its
// averaging ring at a block start, so the picture is the same byte for byte as one analyser's
// in order. With the bins' levels asked for (binLevels), the worker keeps its block's averaged
// bins beside the block, so the level log gets every column's in column order as well.

#include "display/column_analyzer.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace korv {

class ParallelColumnLoop {
  public:
    ParallelColumnLoop() = default;
    ~ParallelColumnLoop();
    ParallelColumnLoop(const ParallelColumnLoop&) = delete;
    ParallelColumnLoop& operator=(const ParallelColumnLoop&) = delete;

    // As ColumnAnalyzer::setup. With `useWorker` false, or too few columns to share, or
    // when the worker's block or thread cannot be had, everything runs on the caller's
    // thread. The samples and the image must outlive release().
    [[nodiscard]] SetupResult setup(const ColumnAnalysisInputs& inputs, SpectralImage& image,
                                    bool useWorker);
    // Column x into the image; columns must come in order from 0.
    void analyzeColumn(long x, SpectralImage& image);
    // Stops and joins the worker, frees both analysers. Columns copied in beyond the last one
    // asked for are cleared again.
    void release();

    // The averaged bin levels of the column just asked for (bin k at index k), for the level
    // log; empty before the first column or without binLevels.
    [[nodiscard]] std::span<const float> averagedBins(int channel) const;

    [[nodiscard]] long columns() const { return caller_.columns(); }
    [[nodiscard]] bool sharing() const { return worker_.joinable(); }
    [[nodiscard]] long blockColumns() const { return block_; }

  private:
    // A block of the worker's: its columns and their averaged bin levels (column by column,
    // channel by channel).
    struct Slot {
        std::optional<SpectralImage> image;
        std::vector<float> levels;
        long block = -1; // the block it holds or is being analysed into; -1 when free
        bool ready = false;
    };
    // The worker analyses into up to this many blocks ahead of the caller.
    static constexpr std::size_t kSlots = 4;

    void work();
    [[nodiscard]] bool makeSlots(const ColumnAnalysisInputs& inputs, const SpectralImage& image);
    void analyzeBlock(Slot& slot);
    void takeWorkerBlock(long block, SpectralImage& image);
    void dropWorker(); // the worker's analyser and blocks; the thread is not running

    ColumnAnalyzer caller_;
    ColumnAnalyzer helper_;
    std::array<Slot, kSlots> slots_;
    // The averaged bins of the worker's block the caller took over last.
    std::vector<float> heldLevels_;
    long heldBlock_ = -1;
    long ownBlock_ = -1; // the block the caller is analysing itself
    long lastAsked_ = -1;
    long block_ = 0;
    std::size_t bins_ = 0; // kept per column and channel: N / 2 with binLevels, else 0
    SpectralImage* image_ = nullptr;
    long consumed_ = 0; // columns the caller asked for
    long copiedTo_ = 0; // columns of the image written, the worker's included

    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable changed_;
    long callerBlock_ = 0; // the block the caller is in
    long nextBlock_ = 0;   // the worker claims no block before this one
    bool stop_ = false;
};

// Blocks long enough that priming the ring costs at most a quarter of a block.
[[nodiscard]] long parallelBlockColumns(int averageCount);

} // namespace korv
