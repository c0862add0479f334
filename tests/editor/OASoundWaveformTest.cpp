#include "editor/OASoundWaveform.h"

#include "audio/OASoundTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace rp::editor;

namespace {

OASoundPtr soundFile(const std::filesystem::path& path, int channels, const std::vector<double>& interleaved)
{
    rp::test::writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, channels, interleaved);
    return OASound::soundWithContentsOfURL(path);
}

TEST(WaveformColumnsTest, MinAndMaxPerColumnWithinTheSamples)
{
    // 4 frames of one channel into 2 columns of a picture 10 high: 2 samples per column.
    const std::vector<int16_t> samples { 32767, -32767, 0, 16384 };
    const auto columns = waveformColumns(samples, 1, 2, 10);
    ASSERT_EQ(columns.size(), 1u);
    ASSERT_EQ(columns[0].size(), 2u);
    EXPECT_FLOAT_EQ(columns[0][0].y, -5.0f + 5.5f);
    EXPECT_FLOAT_EQ(columns[0][0].height, 10.0f);
    EXPECT_FLOAT_EQ(columns[0][1].y, 5.5f); // min starts at 0
    EXPECT_NEAR(columns[0][1].height, 2.5f, 1e-3);

    // Fewer frames than columns: one sample per column, the rest at zero height.
    const auto wide = waveformColumns({ 32767, -32767 }, 2, 5, 10);
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_FLOAT_EQ(wide[0][0].height, 5.0f);
    EXPECT_FLOAT_EQ(wide[1][0].height, 5.0f);
    for (int x = 1; x < 5; ++x)
        EXPECT_EQ(wide[1][static_cast<size_t>(x)].height, 0.0f);
    EXPECT_TRUE(waveformColumns({ 1, 2 }, 0, 5, 10).empty());
}

TEST(WaveformTest, ChannelsAlphaSilenceAndDescription)
{
    rp::test::TempDir dir;
    struct Case {
        int channels;
        double amplitude;
        float alpha;
        const char* wording;
    };
    for (const auto& c : std::vector<Case> { { 1, 0.5, 0.8f, "mono" }, { 2, 0.5, 0.4f, "stereo" },
             { 5, 0.0, 0.16f, "5 ch" } }) {
        std::vector<double> samples(static_cast<size_t>(4410 * c.channels), c.amplitude);
        auto sound = soundFile(dir / ("s" + std::to_string(c.channels) + ".wav"), c.channels, samples);
        const auto picture = computeWaveform(*sound, 116, 66);
        ASSERT_FALSE(picture.empty);
        EXPECT_EQ(picture.width, 100);
        EXPECT_EQ(picture.height, 50);
        EXPECT_FLOAT_EQ(picture.alpha, c.alpha);
        ASSERT_EQ(picture.channels.size(), static_cast<size_t>(c.channels));
        const float height = picture.channels.back()[0].height;
        if (c.amplitude == 0.0)
            EXPECT_EQ(height, 0.0f);
        else
            EXPECT_NEAR(height, 12.5f, 0.1f);
        EXPECT_EQ(picture.description, std::string("44.1 kHz, 16 bit, ") + c.wording + " (0.1 secs)");
        EXPECT_EQ(picture.name, sound->name());
    }
    // A compressed file has no sample size to state.
    rp::test::writeSoundFile(dir / "c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, std::vector<double>(4410, 0.5));
    const auto flac = computeWaveform(*OASound::soundWithContentsOfURL(dir / "c.flac"), 116, 66);
    EXPECT_EQ(flac.description, "44.1 kHz, mono (0.1 secs)");
}

TEST(WaveformTest, UnreadableSoundDrawsTheEmptyMessage)
{
    rp::test::TempDir dir;
    auto sound = OASound::soundWithContentsOfURL(dir / "missing.wav");
    const auto picture = computeWaveform(*sound, 116, 66);
    EXPECT_TRUE(picture.empty);
    EXPECT_EQ(picture.description, "Empty waveform (file not found?)");
    EXPECT_TRUE(picture.channels.empty());
}

struct SoundViewTest : ::testing::Test {
    SoundViewTest()
    {
        view.setViewSize(116, 66);
        first = soundFile(dir / "first.wav", 1, std::vector<double>(2205, 0.25));
        second = soundFile(dir / "second.wav", 2, std::vector<double>(4410, 0.5));
    }
    rp::test::TempDir dir;
    OASoundViewModel view;
    OASoundPtr first, second;
};

TEST_F(SoundViewTest, KeepsACopyAndPreservesAttributesWhenAsked)
{
    first->setVolume(0.5f);
    first->setPanning(-0.3f);
    view.setSound(first);
    EXPECT_NE(view.sound(), first);
    view.setPreservesAttributes(true);
    int actions = 0;
    view.setAction([&] { ++actions; });
    ASSERT_TRUE(view.takeSoundFromFile(dir / "second.wav"));
    EXPECT_EQ(actions, 1);
    EXPECT_FLOAT_EQ(view.sound()->volume(), 0.5f);
    EXPECT_FLOAT_EQ(view.sound()->panning(), -0.3f);
    EXPECT_EQ(view.sound()->channels(), 2);
    EXPECT_FLOAT_EQ(view.picture().alpha, 0.4f);
}

TEST_F(SoundViewTest, DelegateVetoAndUnreadableFilesLeaveTheSound)
{
    view.setSound(first);
    view.setDelegate([](const OASoundPtr&) { return false; });
    EXPECT_FALSE(view.setSoundWithDelegate(second));
    EXPECT_EQ(view.sound()->channels(), 1);
    view.setDelegate({});
    rp::test::writeFileBytes(dir / "noise.wav", { 'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'u', 'n', 'd' });
    EXPECT_FALSE(view.takeSoundFromFile(dir / "noise.wav"));
    EXPECT_EQ(view.sound()->channels(), 1);
}

TEST_F(SoundViewTest, MenuItemsAndDropsByState)
{
    const auto titles = [this] {
        std::vector<std::string> out;
        for (const auto& item : view.menu())
            out.push_back(item.separator ? "-" : item.title);
        return out;
    };
    EXPECT_EQ(titles(), std::vector<std::string> { "Open Sound..." });
    view.setSound(first);
    EXPECT_EQ(titles(), (std::vector<std::string> { "Open Sound...", "Save Sound..." }));
    std::vector<OASoundPtr> played;
    view.setSpeaker([&](const OASoundPtr& sound, float) { played.push_back(sound); });
    EXPECT_EQ(titles(), (std::vector<std::string> { "Play", "-", "Open Sound...", "Save Sound..." }));
    view.play();
    EXPECT_EQ(played.size(), 1u);
    view.setEditable(false);
    EXPECT_EQ(titles(), (std::vector<std::string> { "Play", "-" }));
    EXPECT_FALSE(view.acceptsDrop({ dir / "second.wav" }, false));
    view.setEditable(true);
    EXPECT_TRUE(view.acceptsDrop({ dir / "second.WAV" }, false));
    EXPECT_FALSE(view.acceptsDrop({ dir / "second.wav" }, true));
    EXPECT_FALSE(view.acceptsDrop({ dir / "first.wav", dir / "second.wav" }, false));
    EXPECT_FALSE(view.acceptsDrop({ dir / "notes.txt" }, false));
    view.setSound(OASound::soundWithContentsOfURL(dir / "missing.wav"));
    EXPECT_EQ(titles(), (std::vector<std::string> { "Open Sound..." }));
}

TEST_F(SoundViewTest, DraggedOutSoundsGetSafeUniqueNamesInTheirOwnFormat)
{
    EXPECT_FALSE(view.canDragOut());
    EXPECT_FALSE(view.writeForDragOut(dir.path()));
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    view.setSound(second);
    ASSERT_TRUE(view.canDragOut());
    const auto written = view.writeForDragOut(out);
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, out / "second.wav");
    const auto again = view.writeForDragOut(out);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, out / "second 2.wav");
    auto copy = OASound::soundWithContentsOfURL(*again);
    EXPECT_EQ(copy->channels(), 2);
    EXPECT_EQ(copy->frames(), 2205u);

    // A name that would climb out of the folder or hide stays a plain file inside it.
    rp::test::writeSoundFile(dir / "..hidden.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, std::vector<double>(10, 0.1));
    view.setSound(OASound::soundWithContentsOfURL(dir / "..hidden.wav"));
    const auto hidden = view.writeForDragOut(out);
    ASSERT_TRUE(hidden);
    EXPECT_EQ(*hidden, out / "hidden.wav");
}

} // namespace
