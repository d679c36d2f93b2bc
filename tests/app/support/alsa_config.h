#pragma once
// An ALSA configuration written for one test binary. ALSA reads it when PortAudio starts, so
// it is installed as a GoogleTest environment, before any test runs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>

namespace korv::test {

class AlsaConfig : public ::testing::Environment {
  public:
    // KORV_TRY_ALSA_CONFIG, when set, names another configuration for a trial by hand (a
    // PulseAudio null sink, a real card) and replaces the written one.
    AlsaConfig(std::string name, std::string text)
        : name_(std::move(name)), text_(std::move(text)) {}

    void SetUp() override {
        namespace fs = std::filesystem;
        dir_ = fs::temp_directory_path() / (name_ + "-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const fs::path conf = dir_ / "asound.conf";
        std::ofstream(conf) << text_;
        const char* other = std::getenv("KORV_TRY_ALSA_CONFIG");
        ::setenv("ALSA_CONFIG_PATH", other != nullptr ? other : conf.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

  private:
    std::string name_;
    std::string text_;
    std::filesystem::path dir_;
};

inline constexpr const char* ALSA_NULL_DEVICE = "pcm.!default { type null }\n";

} // namespace korv::test
