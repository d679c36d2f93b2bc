#pragma once
// The sound device of one test binary: a private PulseAudio server (pulse_process.h) as ALSA's
// default device, set up before any test (ALSA reads its configuration when PortAudio starts)
// and ended after the last. A server that cannot be had is a failure of the tests that need
// it, with the reason, never a silent skip. Without a server ALSA's default is a card that does
// not exist. KORV_TRY_ALSA_CONFIG, when set, names another ALSA configuration for a trial by
// hand (a PulseAudio null sink, a real card) and replaces the written one.

#include "pulse_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace korv::test {

// Its ready() and error() are the server's.
class PulseServer : public ::testing::Environment, public PulseProcess {
  public:
    explicit PulseServer(std::vector<std::string> modules = {}, bool withServer = true)
        : PulseProcess(std::move(modules)), withServer_(withServer) {}
    void SetUp() override {
        if (withServer_) {
            start();
        }
        namespace fs = std::filesystem;
        alsaDir_ = fs::temp_directory_path() / ("korv-alsa-" + std::to_string(::getpid()));
        fs::create_directories(alsaDir_);
        const fs::path conf = alsaDir_ / "asound.conf";
        std::ofstream(conf) << (withServer_ ? ALSA_PULSE_DEVICE
                                            : "pcm.!default { type hw card 99 }\n"
                                              "ctl.!default { type hw card 99 }\n");
        const char* other = std::getenv("KORV_TRY_ALSA_CONFIG");
        ::setenv("ALSA_CONFIG_PATH", other != nullptr ? other : conf.c_str(), 1);
    }
    void TearDown() override {
        std::filesystem::remove_all(alsaDir_);
        stop();
    }

  private:
    bool withServer_;
    std::filesystem::path alsaDir_;
};

} // namespace korv::test
