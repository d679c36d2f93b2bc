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

bool ParallelColumnLoop::makeSlots(const ColumnAnalysisInputs& inputs, const SpectralImage& image) {
    bins_ = inputs.binLevels ? std::size_t{1} << (inputs.run.log2FftSize - 1) : 0;
    const std::size_t levelCount =
        static_cast<std::size_t>(block_) * static_cast<std::size_t>(image.channels()) * bins_;
    try {
        heldLevels_.assign(levelCount, 0.0f);
        for (Slot& slot : slots_) {
            slot.image =
                SpectralImage::create({block_, static_cast<int>(block_), image.plotHeight(),
                                       image.stripHeight(), image.channels()});
            slot.levels.assign(levelCount, 0.0f);
            slot.block = -1;
            slot.ready = false;
            if (!slot.image) {
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
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
    if (!makeSlots(inputs, image) || helper_.setup(inputs, image) != SetupResult::Ok) {
        dropWorker(); // one core is slower, never wrong
        return SetupResult::Ok;
    }
    image_ = &image;
    stop_ = false;
    ownBlock_ = 0;
    callerBlock_ = 0;
    nextBlock_ = 0;
    try {
        worker_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        image_ = nullptr;
        dropWorker();
    }
    return SetupResult::Ok;
}

void ParallelColumnLoop::analyzeBlock(Slot& slot) {
    const long first = slot.block * block_;
    const long last = std::min(first + block_, helper_.columns());
    const int channels = slot.image->channels();
    for (long x = first; x < last; ++x) {
        helper_.analyzeColumnAt(x, *slot.image, static_cast<int>(x - first));
        for (int ch = 0; ch < channels && bins_ > 0; ++ch) {
            const auto levels = helper_.averagedBins(ch);
            const std::size_t at =
                (static_cast<std::size_t>(x - first) * static_cast<std::size_t>(channels) +
                 static_cast<std::size_t>(ch)) *
                bins_;
            std::copy_n(levels.begin(), std::min(levels.size(), bins_),
                        slot.levels.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
}

void ParallelColumnLoop::work() {
    const long blocks = (helper_.columns() + block_ - 1) / block_;
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            const auto free = [this] { return std::ranges::find(slots_, -1L, &Slot::block); };
            changed_.wait(lock, [&] { return stop_ || free() != slots_.end(); });
            // The block after the caller's is left to the caller, so that it has its own
            // work whenever it has caught up with the worker.
            const long claim = std::max(nextBlock_, callerBlock_ + 2);
            if (stop_ || claim >= blocks) {
                return;
            }
            slot = &*free();
            slot->block = claim;
            slot->ready = false;
            nextBlock_ = claim + 1;
        }
        analyzeBlock(*slot);
        {
            std::lock_guard lock(mutex_);
            slot->ready = true;
        }
        changed_.notify_all();
    }
}

std::span<const float> ParallelColumnLoop::averagedBins(int channel) const {
    if (lastAsked_ < 0 || !sharing() || heldBlock_ != lastAsked_ / block_ || channel < 0 ||
        channel >= image_->channels()) {
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

// The worker's block, once it is done, into the image; its slot is free again.
void ParallelColumnLoop::takeWorkerBlock(long block, SpectralImage& image) {
    std::unique_lock lock(mutex_);
    const auto slot = std::ranges::find(slots_, block, &Slot::block);
    changed_.wait(lock, [&] { return slot->ready; });
    const long x = block * block_;
    const long width = std::min(block_, columns() - x);
    image.surface().copyFrom(slot->image->surface(),
                             {0, 0, static_cast<int>(width), slot->image->height()},
                             {static_cast<int>(x), 0});
    copiedTo_ = x + width;
    // The block's levels stay with the caller while the worker fills the slot again.
    heldLevels_.swap(slot->levels);
    heldBlock_ = block;
    slot->block = -1;
    slot->ready = false;
    lock.unlock();
    changed_.notify_all();
}

void ParallelColumnLoop::analyzeColumn(long x, SpectralImage& image) {
    consumed_ = std::max(consumed_, x + 1);
    lastAsked_ = x;
    const long block = x / block_;
    if (!sharing() || block == ownBlock_) {
        caller_.analyzeColumn(x, image);
        return;
    }
    if (x % block_ != 0) {
        return; // copied in with its block's first column
    }
    bool workers = false;
    {
        std::lock_guard lock(mutex_);
        callerBlock_ = block;
        workers = std::ranges::find(slots_, block, &Slot::block) != slots_.end();
    }
    if (!workers) {
        ownBlock_ = block;
        caller_.analyzeColumn(x, image);
        return;
    }
    takeWorkerBlock(block, image);
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
    ownBlock_ = -1;
    if (worker_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
    dropWorker();
    caller_.release();
}

void ParallelColumnLoop::dropWorker() {
    helper_.release();
    for (Slot& slot : slots_) {
        slot = Slot{};
    }
    heldLevels_.clear();
    bins_ = 0;
}

} // namespace korv
