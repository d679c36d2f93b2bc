#pragma once
// Reading a stretch of a wave file into a SampleStore, and writing a store out as a wave
// file (Save Wave).

#include "audio/held_samples.h"
#include "audio/sample_encoding.h"
#include "audio/sample_store.h"
#include "audio/wave_header.h"
#include "base/user_message.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korv {

// The file ends before the stretch asked for (a header declaring more data than there is).
inline const UserMessage kErrorReadingFile{"Error Reading File", MessageIcon::Stop};

struct SegmentResult {
    // The filled store (header written, waveDataAvailable set), or nothing on failure.
    std::optional<SampleStore> store;
    std::optional<UserMessage> message;
    // "Not enough memory": the stored settings must be reloaded.
    bool reloadSettings = false;
};

// Reads `length` held bytes from `start` (which already includes the data offset) into a
// new store whose header carries `format` and `length`. The caller frees the current store
// first when it no longer needs it, so the memory is there for the new one.
// Start and length count the samples as held: for a source whose encoding is converted,
// sample i of the data (held at dataOffset + 2i) is read from dataOffset + i x its width,
// in blocks, and `format` must be 16-bit.
[[nodiscard]] SegmentResult loadSegment(const std::string& path, std::int64_t start,
                                        std::int64_t length, const WaveFormat& format,
                                        AllocationCounter& counter,
                                        const SampleSource& source = {});

struct SaveWaveResult {
    std::optional<UserMessage> message;
    // Set when the file could be created: the new lastFolder.
    std::optional<std::string> openedFolder;
    // Sample bytes written (whole frames).
    std::uint32_t dataBytes = 0;
};

// The file side of Save Wave: cuts the held bytes to whole frames, sets the header's
// sizes, and writes header and samples in one go, replacing any existing file. A short
// write removes the partial file (a regular one) and says "Error Writing File". Does nothing when
// the store has no wave data.
[[nodiscard]] SaveWaveResult saveWaveFile(const std::string& path, SampleStore& store);
// The same for a segment too long to hold: its held bytes read from its file a block at a
// time, so the written file is the one a held segment would give.
[[nodiscard]] SaveWaveResult saveWaveFile(const std::string& path, const FileSegment& segment);

} // namespace korv
