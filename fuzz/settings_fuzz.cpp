// Feeds arbitrary bytes to the settings readers through a real file. The input is laid over
// a 948-byte image whose first word is forced to 6000, so every input reaches the fields.
// Whatever a reader makes of it must save and read back as the same record: the values a
// load brings into range have to stay there.

#include "display/palette.h"
#include "settings/settings_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <unistd.h>

namespace {

// Each save syncs its file: in memory that costs nothing.
std::string scratchPath() {
    const std::filesystem::path shm = "/dev/shm";
    const auto dir =
        std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
    return (dir / ("korv-settings-fuzz-" + std::to_string(getpid()) + ".ini")).string();
}

void read(const std::string& path, bool reload, korv::AppSettings& s, korv::LevelPalette& active) {
    if (reload) {
        (void)korv::reloadSettings(path, s, active);
    } else {
        korv::loadSettings(path, s, active);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = scratchPath();
    std::array<std::uint8_t, korv::SETTINGS_FILE_SIZE> image{};
    if (size > 0) {
        std::memcpy(image.data(), data, std::min(size, image.size()));
    }
    // The command-line tool's reader takes the raw bytes (a pipe, junk, a short file) only
    // when they are a whole image with the magic, and leaves the record alone otherwise.
    korv::AppSettings direct;
    korv::LevelPalette directActive = korv::kBwPalette;
    const bool whole = size == image.size() && std::memcmp(data, &korv::SETTINGS_MAGIC, 4) == 0;
    if (korv::applySettingsBytes(std::span(data, size), direct, directActive) != whole ||
        (!whole && !(direct == korv::AppSettings{}))) {
        std::abort();
    }
    for (std::size_t i = 0; i < 4; ++i) {
        image[i] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(korv::SETTINGS_MAGIC) >> (8 * i));
    }
    korv::AppSettings fromBytes;
    korv::LevelPalette fromBytesActive = korv::kBwPalette;
    if (!korv::applySettingsBytes(image, fromBytes, fromBytesActive)) {
        std::abort();
    }
    for (const bool reload : {false, true}) {
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(image.data(), 1, image.size(), f);
            std::fclose(f);
        }
        korv::AppSettings first;
        korv::LevelPalette firstActive = korv::kBwPalette;
        read(path, reload, first, firstActive);
        if (!first.settingsLoaded) {
            std::abort(); // a whole image with the magic is always applied
        }
        if (!reload && (!(first == fromBytes) || firstActive != fromBytesActive)) {
            std::abort(); // the tool reads a file as start-up does
        }
        (void)korv::saveSettings(path, first, first.storedSampleRateHz);
        korv::AppSettings second;
        korv::LevelPalette secondActive = korv::kBwPalette;
        read(path, reload, second, secondActive);
        if (!(second == first) || secondActive != firstActive) {
            std::abort();
        }
    }
    std::remove(path.c_str());
    return 0;
}
