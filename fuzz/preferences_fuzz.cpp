// Feeds arbitrary text to the reader of korvanthile.conf. Whatever it makes of the text must
// write out and read back as the same preferences, with no problem left to report: a value
// taken or replaced by its default stays valid, and a kept unknown key stays as it was.

#include "settings/preferences.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const korv::PreferencesRead first = korv::parsePreferences(text, "fuzz.conf");
    const korv::PreferencesRead second =
        korv::parsePreferences(korv::formatPreferences(first.preferences), "fuzz.conf");
    if (!second.problems.empty() || !(second.preferences == first.preferences)) {
        std::abort();
    }
    return 0;
}
