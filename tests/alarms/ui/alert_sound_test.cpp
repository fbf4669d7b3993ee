#include <QFile>
#include <QtEndian>

#include "common/ui/ui_test_support.h"

namespace krt {
namespace {

using AlertSound = test::UiTest;

std::uint32_t le32(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + at);
}
std::uint16_t le16(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<std::uint16_t>(bytes.constData() + at);
}

TEST_F(AlertSound, TheResourceIsAStereo24kHz16BitPcmWaveOfAbout4Point7Seconds) {
    QFile file(QStringLiteral(":/krt/alert.wav"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray wave = file.readAll();
    ASSERT_GE(wave.size(), 44);
    EXPECT_EQ(wave.mid(0, 4), "RIFF");
    EXPECT_EQ(le32(wave, 4), static_cast<std::uint32_t>(wave.size() - 8));
    EXPECT_EQ(wave.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(le16(wave, 20), 1u) << "PCM";
    EXPECT_EQ(le16(wave, 22), 2u) << "channels";
    EXPECT_EQ(le32(wave, 24), 24000u) << "samples per second";
    EXPECT_EQ(le32(wave, 28), 24000u * 4) << "bytes per second";
    EXPECT_EQ(le16(wave, 32), 4u) << "block alignment";
    EXPECT_EQ(le16(wave, 34), 16u) << "bits";
    EXPECT_EQ(wave.mid(36, 4), "data");
    EXPECT_EQ(le32(wave, 40), 454840u);
    EXPECT_EQ(wave.size(), 44 + 454840);
    // Not silence.
    const auto samples = wave.mid(44);
    EXPECT_TRUE(std::any_of(samples.begin(), samples.end(), [](char byte) { return byte != 0; }));
}

}  // namespace
}  // namespace krt
