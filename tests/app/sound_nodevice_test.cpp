// The PortAudio devices when the default device cannot be had: a result, quietly, at once.
#include "platform/portaudio_input.h"
#include "platform/portaudio_output.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace korv {
namespace {

namespace fs = std::filesystem;

// ALSA's default device names a card that does not exist; set up before PortAudio starts.
class MissingAlsaDevice : public ::testing::Environment {
  public:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("korv-alsa-none-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const fs::path conf = dir_ / "asound.conf";
        std::ofstream(conf) << "pcm.!default { type hw card 99 }\n"
                               "ctl.!default { type hw card 99 }\n";
        ::setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir_); }
    const fs::path& dir() const { return dir_; }

  private:
    fs::path dir_;
};
auto* const missingDevice =
    static_cast<MissingAlsaDevice*>(::testing::AddGlobalTestEnvironment(new MissingAlsaDevice));

std::size_t threadCount() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator{}));
}

struct NullSinks : SoundOutputSink, SoundInputSink {
    void outputDone() override { ++calls; }
    void bufferDone(std::span<std::uint8_t>, std::size_t) override { ++calls; }
    void inputClosed() override { ++calls; }
    int calls = 0;
};

TEST(PortAudioWithoutDevice, OpeningFailsAsAResultWithNothingOnStderrAndNothingLeftRunning) {
    const std::size_t threadsBefore = threadCount();
    auto out = makePortAudioOutput();
    auto in = makePortAudioInput();
    NullSinks sink;
    std::vector<std::uint8_t> buffer(256);

    // Everything PortAudio, ALSA and JACK would say while failing goes to this file.
    const fs::path errors = missingDevice->dir() / "stderr.txt";
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(saved, 0);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    const SoundResult outOpen = out->open(PcmFormat{44100, 2, 16}, sink);
    const SoundResult inOpen = in->open(PcmFormat{44100, 2, 16}, sink);
    const SoundResult outAgain = out->open(PcmFormat{11025, 1, 8}, sink);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);

    EXPECT_EQ(outOpen, SoundResult::OpenFailed);
    EXPECT_EQ(inOpen, SoundResult::OpenFailed);
    EXPECT_EQ(outAgain, SoundResult::OpenFailed);
    std::ifstream said(errors);
    const std::string text{std::istreambuf_iterator<char>(said), {}};
    EXPECT_EQ(text, "");

    // The rest of the sequence fails too, without reporting anything.
    EXPECT_FALSE(out->isOpen());
    EXPECT_EQ(out->prepare(buffer, 1), SoundResult::PrepareFailed);
    EXPECT_EQ(out->write(), SoundResult::WriteFailed);
    EXPECT_FALSE(out->positionFrames().has_value());
    out->reset();
    out->close();
    EXPECT_FALSE(in->isOpen());
    EXPECT_EQ(in->addBuffer(buffer), SoundResult::PrepareFailed);
    EXPECT_EQ(in->start(), SoundResult::WriteFailed);
    in->reset();
    in->close();
    EXPECT_EQ(sink.calls, 0);
    out.reset();
    in.reset();
    EXPECT_LE(threadCount(), threadsBefore);
}

} // namespace
} // namespace korv
