#include "modes/input_room.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "audio/recording.h"
#include "dialogs/parameter_rules.h"
#include "modes/capture.h"
#include "platform/portaudio_input.h"

#include <QPushButton>

namespace korv {

Clock& InputRoom::clock() {
    Clock* c = window->options().clock;
    return c != nullptr ? *c : realClock;
}

SoundInput* InputRoom::device() {
    if (!input) {
        const auto& make = window->options().makeSoundInput;
        input = make ? make() : makePortAudioInput();
    }
    return input.get();
}

std::vector<int> InputRoom::offeredRates() {
    SoundInput* in = device();
    std::vector<int> rates =
        in != nullptr ? in->offeredRates(sampleRateCandidates(), 1, 16) : std::vector<int>{};
    return rates.empty() ? classicSampleRates() : rates;
}

void pressSave(InputRoom& r, double startMs) {
    Recording* rec = r.recording;
    if (rec == nullptr || rec->recording()) {
        return;
    }
    if (!rec->save(startMs)) {
        r.window->state().control.stopRequested =
            true; // the file could not be made: the run ends with why
        return;
    }
    r.window->state().control.savingSamples = true;
    r.window->button(cmd::kPlay)->setEnabled(false);
    r.window->button(cmd::kPlayWindow)->setEnabled(rec->choice() == Recording::Choice::Manual);
}

void pressStopSave(InputRoom& r, double stopMs) {
    if (r.recording == nullptr || !r.window->state().control.savingSamples) {
        return;
    }
    AppState& s = r.window->state();
    if (!r.recording->stopSave(stopMs)) {
        s.control.stopRequested = true; // the file could not be cut: the run ends with why
    }
    s.control.recordedBytes = r.recording->recordedBytes();
    s.control.savingSamples = false;
    r.window->button(cmd::kPlayWindow)->setEnabled(false);
}

void scanInputButton(MainWindow& window, int id) {
    InputRoom* room = window.part<InputRoom>();
    const Recording* rec = room != nullptr ? room->recording : nullptr;
    if (rec == nullptr || rec->choice() != Recording::Choice::Manual) {
        return;
    }
    if (id == cmd::kPlay) {
        pressSave(*room, room->capture->soundMs());
    } else if (id == cmd::kPlayWindow) {
        pressStopSave(*room, room->capture->soundMs());
    }
}

} // namespace korv
