#include "output/meter_table.h"

#include "output/data_log.h"

namespace korv {

std::string_view weightingLetter(meter::FrequencyWeighting weighting) {
    switch (weighting) {
    case meter::FrequencyWeighting::C:
        return "C";
    case meter::FrequencyWeighting::Z:
        return "Z";
    case meter::FrequencyWeighting::A:
        break;
    }
    return "A";
}

std::string_view timeWeightingLetter(meter::TimeWeighting timeWeighting) {
    switch (timeWeighting) {
    case meter::TimeWeighting::S:
        return "S";
    case meter::TimeWeighting::I:
        return "I";
    case meter::TimeWeighting::F:
        break;
    }
    return "F";
}

std::string meterLevelName(const MeterTableNames& names, bool timeWeighted) {
    std::string name = "L";
    name += weightingLetter(names.weighting);
    if (timeWeighted) {
        name += timeWeightingLetter(names.timeWeighting);
    }
    return name;
}

std::string_view meterUnit(const MeterTableNames& names) {
    return names.fullScale ? "dB" : "dBFS";
}

std::string meterTableHeader(const MeterTableNames& names, const std::vector<meter::Band>& bands) {
    const std::string u = "_" + std::string(meterUnit(names));
    const std::string w = meterLevelName(names, false);
    const std::string t = meterLevelName(names, true);
    std::string text = names.absoluteTime ? "start," : "";
    text +=
        "start_s,end_s," + w + "eq" + u + "," + t + "max" + u + "," + t + "min" + u + ",LCpeak" + u;
    for (const meter::Band& band : bands) {
        text += ",LZeq_" + band.label + "_Hz" + u;
    }
    text += '\n';
    return text;
}

void appendMeterSeconds(std::string& text, std::int64_t frame, double sampleRate) {
    const auto r = static_cast<std::int64_t>(sampleRate);
    const std::int64_t micros = (frame * 1000000 + r / 2) / r;
    appendInteger(text, micros / 1000000);
    text += '.';
    const std::string fraction = std::to_string(micros % 1000000);
    text.append(6 - fraction.size(), '0');
    text += fraction;
}

void appendMeterLevel(std::string& text, const MeterTableNames& names, double dbfs) {
    text += ',';
    appendCsvNumber(text, dbfs + (names.fullScale ? names.fullScale->db : 0.0), 2);
}

void appendMeterRow(std::string& text, const MeterTableNames& names,
                    const meter::IntervalLevels& levels, double sampleRate,
                    std::string_view startTime) {
    if (names.absoluteTime) {
        text += startTime;
        text += ',';
    }
    appendMeterSeconds(text, levels.startFrame, sampleRate);
    text += ',';
    appendMeterSeconds(text, levels.endFrame, sampleRate);
    for (const double level : {levels.leq, levels.lmax, levels.lmin, levels.lcpeak}) {
        appendMeterLevel(text, names, level);
    }
    for (const double level : levels.bandLeq) {
        appendMeterLevel(text, names, level);
    }
    text += '\n';
}

} // namespace korv
