#pragma once
// The column loop on two cores. The caller's thread asks for the columns in order, one at a
// time, so it can keep its window alive between them; the columns are cut into blocks, the
// caller analyses the even blocks straight into the image and a worker thread the odd ones
// into a block of its own, which is copied in when the caller reaches it. Each analyser
// primes its averaging ring at a block start, so the picture is the same byte for byte as one
// analyser's in order. With the bins' levels asked for (binLevels), the worker keeps its block's
// averaged bins beside the block, so the level log gets every column's in column order as well.

#include "display/column_analyzer.h"

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
    void work();
    [[nodiscard]] bool workerBlock(long x) const { return (x / block_) % 2 == 1; }

    ColumnAnalyzer caller_;
    ColumnAnalyzer helper_;
    std::optional<SpectralImage> scratch_;
    // Averaged bin levels of a worker's block, column by column, channel by channel: the block
    // being analysed, and the one the caller took over last.
    std::vector<float> scratchLevels_;
    std::vector<float> heldLevels_;
    long heldBlock_ = -1;
    long lastAsked_ = -1;
    long block_ = 0;
    std::size_t bins_ = 0; // kept per column and channel: N / 2 with binLevels, else 0
    SpectralImage* image_ = nullptr;
    long consumed_ = 0; // columns the caller asked for
    long copiedTo_ = 0; // columns of the image written, the worker's included

    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable changed_;
    long readyBlock_ = -1; // the worker's finished block waiting in scratch_, or -1
    long wantedBlock_ = 1; // the next block the worker may analyse into scratch_
    bool stop_ = false;
};

// Blocks long enough that priming the ring costs at most a quarter of a block.
[[nodiscard]] long parallelBlockColumns(int averageCount);

} // namespace korv
