// Feeds arbitrary bytes to the settings readers through a real file.

#include "display/palette.h"
#include "settings/settings_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/korv-settings-fuzz-" + std::to_string(getpid()) + ".ini";
    for (int pass = 0; pass < 2; ++pass) {
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            if (size > 0) {
                std::fwrite(data, 1, size, f);
            }
            std::fclose(f);
        }
        korv::AppSettings settings;
        korv::LevelPalette active = korv::kCbPalette;
        if (pass == 0) {
            korv::loadSettings(path, settings, active);
        } else {
            (void)korv::reloadSettings(path, settings, active);
        }
        // Whatever was read must save again as a whole record.
        korv::saveSettings(path, settings, 44100);
    }
    std::remove(path.c_str());
    return 0;
}
