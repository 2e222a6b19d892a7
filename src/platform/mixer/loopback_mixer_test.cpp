#include "platform/mixer/loopback_mixer.h"

#include <gtest/gtest.h>

#include "platform/mixer/alsa_mixer.h"
#include "platform/mixer/system_mixer.h"

namespace quarvel::mixer {
namespace {

using audio::BusLevel;
using audio::RecordSource;

class LoopbackMixerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(mixer_.Open(0, nullptr, handle_), kNoError); }

  std::uint32_t ControlOf(std::uint32_t dest, int source, ControlType type) {
    LineInfo line;
    const std::uint32_t rc = source < 0 ? mixer_.GetDestinationLine(handle_, dest, line)
                                        : mixer_.GetSourceLine(handle_, dest, static_cast<std::uint32_t>(source), line);
    EXPECT_EQ(rc, kNoError);
    ControlInfo c;
    EXPECT_EQ(mixer_.GetLineControl(handle_, line.line_id, type, c), kNoError);
    return c.control_id;
  }

  audio::LoopbackBus bus_{std::make_shared<audio::VirtualClock>()};
  LoopbackMixer mixer_{bus_};
  MixerHandle handle_ = 0;
};

TEST_F(LoopbackMixerTest, LinesCarryTheAdvertisedNamesAndCounts) {
  MixerCaps caps;
  ASSERT_EQ(mixer_.GetDevCaps(0, caps), kNoError);
  EXPECT_EQ(caps.destinations, 2u);
  EXPECT_EQ(mixer_.GetDevCaps(1, caps), kErrBadDeviceId);

  const char* expected[2][4] = {{"Master Volume", "Line In", "Wave Out", nullptr},
                                {"Recording Control", "Microphone", "Line In", "Stereo Mix"}};
  for (std::uint32_t d = 0; d < 2; ++d) {
    LineInfo dest;
    ASSERT_EQ(mixer_.GetDestinationLine(handle_, d, dest), kNoError);
    EXPECT_EQ(dest.name, expected[d][0]);
    for (std::uint32_t s = 0; s < dest.connections; ++s) {
      LineInfo src;
      ASSERT_EQ(mixer_.GetSourceLine(handle_, d, s, src), kNoError);
      EXPECT_EQ(src.name, expected[d][s + 1]);
    }
    LineInfo none;
    EXPECT_EQ(mixer_.GetSourceLine(handle_, d, dest.connections, none), kErrInvalLine);
  }
  LineInfo dest;
  EXPECT_EQ(mixer_.GetDestinationLine(handle_ + 100, 0, dest), kErrInvalHandle);
}

TEST_F(LoopbackMixerTest, VolumesAreTheBusLevels) {
  const std::uint32_t wave = ControlOf(0, 1, ControlType::kVolume);
  const std::uint32_t value = 1234;
  ASSERT_EQ(mixer_.SetControlValues(handle_, wave, std::span(&value, 1)), kNoError);
  EXPECT_EQ(bus_.Level(BusLevel::kWaveOut), 1234);
  std::uint32_t read = 0;
  ASSERT_EQ(mixer_.GetControlValues(handle_, wave, std::span(&read, 1)), kNoError);
  EXPECT_EQ(read, 1234u);

  const std::uint32_t too_big = 1'000'000;
  ASSERT_EQ(mixer_.SetControlValues(handle_, wave, std::span(&too_big, 1)), kNoError);
  EXPECT_EQ(bus_.Level(BusLevel::kWaveOut), LoopbackMixer::kVolumeMax);

  // The recording destination's line itself has no volume.
  LineInfo rec;
  ASSERT_EQ(mixer_.GetDestinationLine(handle_, 1, rec), kNoError);
  ControlInfo c;
  EXPECT_EQ(mixer_.GetLineControl(handle_, rec.line_id, ControlType::kVolume, c), kErrInvalControl);
}

TEST_F(LoopbackMixerTest, MuxListsSourcesInReverseAndTakesExactlyOne) {
  const std::uint32_t mux = ControlOf(1, -1, ControlType::kMux);
  std::uint32_t items[3] = {0, 0, 1};  // last item = source 0
  ASSERT_EQ(mixer_.SetControlValues(handle_, mux, items), kNoError);
  EXPECT_EQ(bus_.GetRecordSource(), RecordSource::kMicrophone);
  std::uint32_t read[3] = {};
  ASSERT_EQ(mixer_.GetControlValues(handle_, mux, read), kNoError);
  EXPECT_EQ(read[2], 1u);
  EXPECT_EQ(read[0], 0u);

  std::uint32_t two[3] = {1, 1, 0};
  EXPECT_EQ(mixer_.SetControlValues(handle_, mux, two), kErrInvalParam);
  std::uint32_t short_list[2] = {1, 0};
  EXPECT_EQ(mixer_.SetControlValues(handle_, mux, short_list), kErrInvalParam);
  EXPECT_EQ(bus_.GetRecordSource(), RecordSource::kMicrophone);
}

TEST_F(LoopbackMixerTest, ChangesAreAnnouncedToEveryHandle) {
  std::vector<std::pair<MixerHandle, std::uint32_t>> seen;
  MixerHandle other = 0;
  ASSERT_EQ(mixer_.Open(0, [&](ChangeKind kind, MixerHandle h, std::uint32_t id) {
              EXPECT_EQ(kind, ChangeKind::kControl);
              seen.emplace_back(h, id);
            }, other),
            kNoError);
  const std::uint32_t master = ControlOf(0, -1, ControlType::kVolume);
  const std::uint32_t v = 10;
  ASSERT_EQ(mixer_.SetControlValues(handle_, master, std::span(&v, 1)), kNoError);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(other, master));
  EXPECT_EQ(mixer_.Close(other), kNoError);
  EXPECT_EQ(mixer_.Close(other), kErrInvalHandle);
}

TEST(SystemMixer, LoopbackIsDeviceZeroAndAlsaCardsFollow) {
  MixerDriver& system = SystemMixer();
  AlsaMixer alsa;
  EXPECT_EQ(system.DeviceCount(), 1 + alsa.DeviceCount());
  MixerCaps caps;
  ASSERT_EQ(system.GetDevCaps(0, caps), kNoError);
  EXPECT_EQ(caps.product_name, "Quarvel Loopback");
  EXPECT_EQ(system.GetDevCaps(system.DeviceCount(), caps), kErrBadDeviceId);
  if (alsa.DeviceCount() == 0) GTEST_SKIP() << "no ALSA sound card on this machine";
  MixerHandle h = 0;
  ASSERT_EQ(system.Open(1, nullptr, h), kNoError);
  LineInfo line;
  EXPECT_EQ(system.GetDestinationLine(h, 0, line), kNoError);
  EXPECT_EQ(system.Close(h), kNoError);
}

}  // namespace
}  // namespace quarvel::mixer
