#include "display/parallel_column_loop.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace korv {

namespace {

constexpr long kMinBlockColumns = 64;

} // namespace

long parallelBlockColumns(int averageCount) {
    return std::max(kMinBlockColumns, 4L * std::max(averageCount, 1));
}

ParallelColumnLoop::~ParallelColumnLoop() {
    release();
}

SetupResult ParallelColumnLoop::setup(const ColumnAnalysisInputs& inputs, SpectralImage& image,
                                      bool useWorker) {
    release();
    if (const SetupResult result = caller_.setup(inputs, image); result != SetupResult::Ok) {
        return result;
    }
    block_ = parallelBlockColumns(caller_.averageCount());
    if (!useWorker || caller_.columns() <= 2 * block_) {
        return SetupResult::Ok;
    }
    scratch_ = SpectralImage::create({block_, static_cast<int>(block_), image.plotHeight(),
                                      image.stripHeight(), image.channels()});
    bins_ = inputs.binLevels ? std::size_t{1} << (inputs.run.log2FftSize - 1) : 0;
    const std::size_t levelCount =
        static_cast<std::size_t>(block_) * static_cast<std::size_t>(image.channels()) * bins_;
    try {
        scratchLevels_.assign(levelCount, 0.0f);
        heldLevels_.assign(levelCount, 0.0f);
    } catch (const std::bad_alloc&) {
        scratch_.reset();
    }
    if (!scratch_ || helper_.setup(inputs, image) != SetupResult::Ok) {
        // One core is slower, never wrong.
        scratch_.reset();
        helper_.release();
        return SetupResult::Ok;
    }
    image_ = &image;
    stop_ = false;
    readyBlock_ = -1;
    wantedBlock_ = 1;
    try {
        worker_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        scratch_.reset();
        helper_.release();
    }
    return SetupResult::Ok;
}

void ParallelColumnLoop::work() {
    const long columns = helper_.columns();
    for (;;) {
        long block = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || readyBlock_ < 0; });
            if (stop_) {
                return;
            }
            block = wantedBlock_;
        }
        const long first = block * block_;
        if (first >= columns) {
            return;
        }
        const long last = std::min(first + block_, columns);
        const int channels = scratch_->channels();
        for (long x = first; x < last; ++x) {
            helper_.analyzeColumnAt(x, *scratch_, static_cast<int>(x - first));
            for (int ch = 0; ch < channels && bins_ > 0; ++ch) {
                const auto levels = helper_.averagedBins(ch);
                const std::size_t at =
                    (static_cast<std::size_t>(x - first) * static_cast<std::size_t>(channels) +
                     static_cast<std::size_t>(ch)) *
                    bins_;
                std::copy_n(levels.begin(), std::min(levels.size(), bins_),
                            scratchLevels_.begin() + static_cast<std::ptrdiff_t>(at));
            }
        }
        {
            std::lock_guard lock(mutex_);
            readyBlock_ = block;
            wantedBlock_ = block + 2;
        }
        changed_.notify_all();
    }
}

std::span<const float> ParallelColumnLoop::averagedBins(int channel) const {
    if (lastAsked_ < 0 || !sharing() || !workerBlock(lastAsked_) ||
        heldBlock_ != lastAsked_ / block_ || channel < 0 || channel >= image_->channels()) {
        return caller_.averagedBins(channel);
    }
    if (bins_ == 0) {
        return {};
    }
    const std::size_t at = (static_cast<std::size_t>(lastAsked_ % block_) *
                                static_cast<std::size_t>(image_->channels()) +
                            static_cast<std::size_t>(channel)) *
                           bins_;
    return std::span<const float>(heldLevels_).subspan(at, bins_);
}

void ParallelColumnLoop::analyzeColumn(long x, SpectralImage& image) {
    consumed_ = std::max(consumed_, x + 1);
    lastAsked_ = x;
    if (!sharing() || !workerBlock(x)) {
        caller_.analyzeColumn(x, image);
        return;
    }
    if (x % block_ != 0) {
        return; // copied in with its block's first column
    }
    const long block = x / block_;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return readyBlock_ == block; });
    const long width = std::min(block_, columns() - x);
    image.surface().copyFrom(scratch_->surface(),
                             {0, 0, static_cast<int>(width), scratch_->height()},
                             {static_cast<int>(x), 0});
    copiedTo_ = x + width;
    // The block's levels stay with the caller while the worker fills the next block.
    heldLevels_.swap(scratchLevels_);
    heldBlock_ = block;
    readyBlock_ = -1;
    lock.unlock();
    changed_.notify_all();
}

void ParallelColumnLoop::release() {
    if (image_ != nullptr && copiedTo_ > consumed_) {
        // A run stopped inside a copied block ends where the caller stopped.
        image_->clearColumns(static_cast<int>(consumed_), static_cast<int>(copiedTo_));
    }
    image_ = nullptr;
    consumed_ = 0;
    copiedTo_ = 0;
    lastAsked_ = -1;
    heldBlock_ = -1;
    if (worker_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
    helper_.release();
    caller_.release();
    scratch_.reset();
    scratchLevels_.clear();
    heldLevels_.clear();
    bins_ = 0;
}

} // namespace korv
