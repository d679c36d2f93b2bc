#pragma once
// The private PulseAudio server of one test binary (pulse_process.h), started before any
// test (ALSA's pulse plugin finds it through PULSE_SERVER) and ended after the last. A server
// that cannot be had is a failure of the tests that need it, with the reason, never a silent
// skip.

#include "pulse_process.h"

#include <gtest/gtest.h>

namespace korv::test {

class PulseServer : public ::testing::Environment {
  public:
    explicit PulseServer(std::vector<std::string> modules = {}) : process_(std::move(modules)) {}
    void SetUp() override { process_.start(); }
    void TearDown() override { process_.stop(); }
    [[nodiscard]] bool ready() const { return process_.ready(); }
    [[nodiscard]] const std::string& error() const { return process_.error(); }

  private:
    PulseProcess process_;
};

} // namespace korv::test
