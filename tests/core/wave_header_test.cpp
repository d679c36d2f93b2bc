#include "audio/wave_header.h"

#include "core/wave_test_files.h"

#include <gtest/gtest.h>

#include <tuple>

namespace korv {
namespace {

using test::Bytes;

Bytes built(std::uint16_t channels, std::int32_t rate, std::uint16_t bits, std::uint32_t data) {
    Bytes block(WAVE_HEADER_SIZE + 3, 0xEE);
    buildWaveHeader(WaveHeaderBytes(block.data(), WAVE_HEADER_SIZE), channels, rate, bits, data);
    return block;
}

class WaveHeaderFormats
    : public ::testing::TestWithParam<std::tuple<std::int32_t, std::uint16_t, std::uint16_t>> {};

// The layout written out field by field here, not taken from the header code.
TEST_P(WaveHeaderFormats, FieldsMatchAnIndependentLayoutAndReadBack) {
    const auto [rate, channels, bits] = GetParam();
    const std::uint32_t dataBytes = 123457;
    Bytes expected;
    test::putId(expected, "RIFF");
    test::putLe32(expected, dataBytes + 38);
    test::putId(expected, "WAVE");
    test::putId(expected, "fmt ");
    test::putLe32(expected, 18);
    test::putLe16(expected, 1);
    test::putLe16(expected, channels);
    test::putLe32(expected, static_cast<std::uint32_t>(rate));
    test::putLe32(expected, static_cast<std::uint32_t>(rate) * (bits / 8u) * channels);
    test::putLe16(expected, (bits / 8u) * channels);
    test::putLe16(expected, bits);
    test::putLe16(expected, 0);
    test::putId(expected, "data");
    test::putLe32(expected, dataBytes);
    ASSERT_EQ(expected.size(), WAVE_HEADER_SIZE);

    const Bytes block = built(channels, rate, bits, dataBytes);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 46), expected);
    EXPECT_EQ(Bytes(block.begin() + 46, block.end()), Bytes(3, 0xEE)) << "nothing beyond";

    const ConstWaveHeaderBytes header(block.data(), WAVE_HEADER_SIZE);
    EXPECT_EQ(waveHeaderFormat(header), (WaveFormat{channels, rate, bits}));
    EXPECT_EQ(waveHeaderBlockAlign(header), channels * bits / 8);
    EXPECT_EQ(waveHeaderDataBytes(header), dataBytes);
}

INSTANTIATE_TEST_SUITE_P(RateChannelsBits, WaveHeaderFormats,
                         ::testing::Combine(::testing::Values(4000, 8000, 11025, 22050, 44100,
                                                              48000),
                                            ::testing::Values<std::uint16_t>(1, 2),
                                            ::testing::Values<std::uint16_t>(8, 16)));

TEST(WaveHeaderTest, PartialRewritesTouchOnlyTheirOwnFields) {
    const Bytes original = built(1, 11025, 8, 5000);

    Bytes sized = original;
    setWaveHeaderDataBytes(WaveHeaderBytes(sized.data(), WAVE_HEADER_SIZE), 777);
    Bytes expected = original; // the two sizes and nothing else
    test::putLeAt(expected, 4, 777 + 38);
    test::putLeAt(expected, 42, 777);
    EXPECT_EQ(sized, expected);

    Bytes reformatted = original;
    const WaveFormat stereo{2, 22050, 16};
    setWaveHeaderFormat(WaveHeaderBytes(reformatted.data(), WAVE_HEADER_SIZE), stereo);
    EXPECT_EQ(reformatted, built(2, 22050, 16, 5000));
}

} // namespace
} // namespace korv
