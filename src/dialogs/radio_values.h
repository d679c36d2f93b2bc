#pragma once
// What each radio button of the parameter dialogs stands for in the settings record: one row
// per button, read both ways (the value a button chooses, whether the record holds it). The
// Scan Input rates are their own table (SAMPLE_RATE_CHOICES, with their labels).

#include "settings/app_settings.h"

#include <cstdint>

namespace korv {

struct RadioValue {
    int id = 0;
    void (*choose)(AppSettings&) = nullptr;
    bool (*chosen)(const AppSettings&) = nullptr;
};

// The row of a button; null for an id that is none of these buttons.
[[nodiscard]] const RadioValue* radioValue(int id);

// The value of `field` a button of that field stands for.
template <typename V> [[nodiscard]] V valueOfRadio(int id, V AppSettings::*field) {
    AppSettings chosen;
    if (const RadioValue* radio = radioValue(id)) {
        radio->choose(chosen);
    }
    return chosen.*field;
}

// The rate of a Scan Input rate button; 0 for another id.
[[nodiscard]] std::int32_t sampleRateOfRadio(int id);

} // namespace korv
