// Typing into the fields beside the scroll bars of a parameter dialog.

#include "dialogs/parameter_model.h"

#include "analysis/parameters.h"
#include "dialogs/control_ids.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace korv {

namespace {

// The whole text as one number, or nothing.
template <typename T> std::optional<T> wholeNumber(const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || at != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

int ParameterDialogModel::barOfField(int editId) const {
    switch (editId) {
    case ID_RESOLUTION_EDIT:
        return ID_RESOLUTION_SCROLL;
    case ID_LOW_BAND_EDIT:
        return ID_LOW_BAND_SCROLL;
    case ID_HIGH_BAND_EDIT:
        return highBandScrollId();
    case ID_AVERAGE_EDIT:
        return ID_AVERAGE_SCROLL;
    case ID_TRIGGER_EDIT:
        return ID_TRIGGER_SCROLL;
    default:
        return 0;
    }
}

bool ParameterDialogModel::typable(int editId) const {
    const int bar = barOfField(editId);
    return bar != 0 && hasControl(bar) && enabled(bar) && enabled(editId);
}

// The bar position the text names (for Freq Resolution: the factor for the Hz typed) when it
// lies in the bar's range.
std::optional<std::int32_t> ParameterDialogModel::typedPosition(int editId,
                                                                const std::string& text) const {
    const ScrollRange range = scrollRange(barOfField(editId));
    double position = 0.0;
    if (editId == ID_RESOLUTION_EDIT) {
        // Typed in Hz, as the field shows it; the bar holds tenths of the bin width.
        const auto hz = wholeNumber<double>(text);
        const double binHz = static_cast<double>(sampleRate()) / fftSize();
        if (!hz || !(binHz > 0.0)) {
            return std::nullopt;
        }
        position = std::round(*hz * 10.0 / binHz);
    } else {
        const auto value = wholeNumber<std::int32_t>(text);
        if (!value) {
            return std::nullopt;
        }
        position = *value;
    }
    if (!(position >= range.min && position <= range.max)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(position);
}

void ParameterDialogModel::typeValue(int editId, const std::string& text) {
    if (!typable(editId)) {
        return;
    }
    // Only this field keeps its typing; the others show their values again.
    typed_.clear();
    typed_[editId] = text;
    const auto value = typedPosition(editId, text);
    if (!value) {
        return;
    }
    // The other band limit follows only when the field is left: typing 5000 into High must
    // not pull Low down to 5 on the way.
    if (editId == ID_RESOLUTION_EDIT) {
        work_.resolutionFactor = *value;
    } else if (editId == ID_LOW_BAND_EDIT) {
        work_.lowBandHz = *value;
    } else if (editId == ID_HIGH_BAND_EDIT) {
        work_.highBandHz = *value;
    } else if (editId == ID_AVERAGE_EDIT) {
        setAverageCount(*value);
    } else if (editId == ID_TRIGGER_EDIT) {
        runWork_.triggerLevel = *value;
    }
    normalise();
}

void ParameterDialogModel::finishTyping() {
    for (auto it = typed_.begin(); it != typed_.end();) {
        const int id = it->first;
        if (!typedPosition(id, it->second)) {
            ++it;
            continue;
        }
        it = typed_.erase(it);
        // As the bars do on the linear scale: the other limit moves to meet this one.
        if (work_.frequencyScale != FrequencyScale::Linear) {
            continue;
        }
        if (id == ID_LOW_BAND_EDIT && work_.highBandHz < work_.lowBandHz) {
            work_.highBandHz = work_.lowBandHz;
        } else if (id == ID_HIGH_BAND_EDIT && work_.lowBandHz > work_.highBandHz) {
            work_.lowBandHz = work_.highBandHz;
        }
    }
}

std::optional<ParameterDialogModel::RefusedTyping> ParameterDialogModel::refusedTyping() const {
    for (const auto& [id, typedText] : typed_) {
        if (typable(id) && !typedPosition(id, typedText)) {
            const bool band = id == ID_LOW_BAND_EDIT || id == ID_HIGH_BAND_EDIT;
            return RefusedTyping{
                id, std::string(band ? MSG_IMPROPER_FREQUENCY_LIMITS : MSG_IMPROPER_ENTRY)};
        }
    }
    return std::nullopt;
}

} // namespace korv
