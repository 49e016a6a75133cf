// The encoder's set-ups against the reader's: where the phone encoder has
// two block sizes and libvorbisenc one (15 to 26 kHz below quality 0.05),
// the set-up the encoder builds writes the header the reader regenerates.
#include <gtest/gtest.h>

#include <string>

#include "soundlib/codec/vorbis/vorbis_setup.h"
#include "soundlib/codec/vorbis/vorbis_encoder_setup.h"

namespace {

using namespace soundlib;

TEST(VorbisEncoderSetup, PhoneLowStepsWithLongBlocksWriteTheReadersHeader) {
    int checked = 0;
    for (const std::uint32_t rate : {16000u, 22050u, 24000u}) {
        for (const std::uint32_t channels : {1u, 2u}) {
            for (int step = 1; vorbis_quality_for_step(step) < 0.05f; ++step) {
                SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate) + " Hz, step " +
                             std::to_string(step));
                const std::vector<VorbisSetup> setups = make_vorbis_setups(channels, rate, step);
                const VorbisSetup* phone = nullptr;
                for (const VorbisSetup& s : setups) phone = s.variant == VorbisVariant::phone ? &s : phone;
                ASSERT_NE(phone, nullptr);
                ASSERT_EQ(setups[0].block_short, 1024u);  // stock: one size
                ASSERT_EQ(phone->block_short, 256u);
                ASSERT_EQ(phone->block_long, 2048u);
                std::string why;
                const auto setup = make_vorbis_encoder_setup(channels, rate, *phone, why);
                ASSERT_NE(setup, nullptr) << why;
                ByteVector packet;
                ASSERT_TRUE(vorbis_setup_packet_of(*setup->info(), packet));
                EXPECT_EQ(packet, phone->packet);
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 3 * 2 * 14);
}

}  // namespace
