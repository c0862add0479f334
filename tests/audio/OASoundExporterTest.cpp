#include "audio/OASoundExporter.h"
#include "audio/SoundFile.h"
#include "audio/WritableAudioFormats.h"
#include "foundation/ScriptedPrompt.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

AudioStreamBasicDescription integers(double rate, uint32_t channels, uint32_t bits)
{
    return AudioStreamBasicDescription::bigEndianInteger(rate, channels, bits);
}

size_t encodingNamed(const OASoundExporter& exporter, const std::string& name)
{
    const auto& items = exporter.encodingItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].name == name)
            return i;
    }
    ADD_FAILURE() << "no encoding " << name;
    return 0;
}

size_t typeIndex(const OASoundExporter& exporter, FourCharCode type)
{
    const auto& items = exporter.fileTypeItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].type == type)
            return i;
    }
    ADD_FAILURE() << "no type " << fourCharCodeString(type);
    return 0;
}

// Every encoding the list offers is one libsndfile really writes: a short file of each is made and
// read back with the type, rate and format asked for (libsndfile accepts some codec numbers for
// containers it then fills with plain samples).
TEST(WritableAudioFormats, EveryListedEncodingWritesAFileOfItsType)
{
    rp::test::TempDir dir;
    ASSERT_NE(rp::writableAudioFileType(kAudioFileWAVEType), nullptr);
    EXPECT_EQ(rp::writableAudioFileType(kAudioFileSoundDesigner2Type), nullptr);
    for (const auto& type : rp::writableAudioFileTypes()) {
        for (const auto& encoding : rp::encodingsForFileType(type.type, 48000, 2)) {
            SCOPED_TRACE(type.name + " / " + encoding.name);
            const auto path = dir / ("x." + rp::extensionsForFileType(type.type).at(0));
            int status = 0;
            {
                auto writer = rp::SoundFileWriter::create(path, type.type, encoding.description, &status);
                ASSERT_NE(writer, nullptr) << status;
                rp::PcmFrames frames;
                frames.kind = rp::PcmFrames::Kind::Real;
                frames.channels = 2;
                frames.reals.assign(2 * 2048, 0.25);
                ASSERT_TRUE(writer->write(frames, &status)) << status;
                ASSERT_EQ(writer->close(), 0);
            }
            auto reader = rp::SoundFileReader::open(path, &status);
            ASSERT_NE(reader, nullptr) << status;
            EXPECT_EQ(reader->fileType(), type.type);
            EXPECT_EQ(reader->dataFormat().mSampleRate, 48000);
            EXPECT_EQ(reader->dataFormat().mFormatID, encoding.description.mFormatID);
        }
    }
}

TEST(OASoundExporter, OffersTheFourCommonTypesAndStartsOnTheGivenOne)
{
    const auto exporter = OASoundExporter::exporterWithDefaultFileType(
        kAudioFileWAVEType, integers(44100, 2, 16), 1.0f, "Song.rpsong");
    std::vector<FourCharCode> types;
    for (const auto& item : exporter->fileTypeItems())
        types.push_back(item.type);
    EXPECT_EQ(types, (std::vector<FourCharCode> { kAudioFileAIFFType, kAudioFileAIFCType, kAudioFileWAVEType,
                         kAudioFileNextType }));
    EXPECT_EQ(exporter->fileTypeItems()[1].title, "AIFF-C");
    EXPECT_EQ(exporter->selectedFileTypeIndex(), 2u);
    // A type not offered starts on the first.
    const auto other = OASoundExporter::exporterWithDefaultFileType(
        kAudioFileSoundDesigner2Type, integers(44100, 2, 16), 1.0f, "Song");
    EXPECT_EQ(other->fileType(), kAudioFileAIFFType);
}

TEST(OASoundExporter, EstimateFollowsEncodingRateAndFileCountButChannelsOnlyWithTheEncoding)
{
    auto exporter = OASoundExporter::exporterWithDefaultFileType(
        kAudioFileAIFFType, integers(44100, 2, 16), 60.0f, "Song");
    const auto file = exporter->prepareToRun(std::nullopt, std::nullopt);
    EXPECT_EQ(file, "Song.aiff");
    EXPECT_EQ(exporter->encodingItems()[exporter->selectedEncodingIndex()].name, "16-bit Integer");
    EXPECT_EQ(exporter->approximateFileSize(), 10'584'000u);
    EXPECT_EQ(exporter->statusText(), "Approximately 10.6 MB will be required.");

    // One channel typed: the bytes per frame (and so the estimate) stay until an encoding is chosen.
    exporter->setChannelsText("1");
    EXPECT_EQ(exporter->channels(), 1u);
    EXPECT_EQ(exporter->approximateFileSize(), 10'584'000u);
    exporter->selectEncoding(exporter->selectedEncodingIndex());
    EXPECT_EQ(exporter->approximateFileSize(), 5'292'000u);

    exporter->setSampleRateText("22050 Hz");
    EXPECT_EQ(exporter->sampleRate(), 22050.0f);
    EXPECT_EQ(exporter->approximateFileSize(), 2'646'000u);

    // Three group files triple it.
    exporter->setFilenameSuffixes(std::vector<std::string> { " (A)", " (B)", " (C)" });
    EXPECT_EQ(exporter->approximateFileSize(), 7'938'000u);

    // An encoding without a fixed frame size estimates nothing.
    exporter->selectFileType(typeIndex(*exporter, kAudioFileAIFCType));
    exporter->selectEncoding(encodingNamed(*exporter, "IMA 4:1"));
    EXPECT_EQ(exporter->approximateFileSize(), 0u);
    EXPECT_EQ(exporter->statusText(), "Approximately 0.0 MB will be required.");
}

TEST(OASoundExporter, ChangingTypeKeepsTheFormatElseTheBitDepth)
{
    auto exporter = OASoundExporter::exporterWithDefaultFileType(
        kAudioFileAIFCType, integers(44100, 2, 24), 1.0f, "Song");
    exporter->prepareToRun(std::nullopt, std::nullopt);
    EXPECT_EQ(exporter->bitsPerChannel(), 24u);
    EXPECT_EQ(exporter->preferredBitDepth(), 24u);

    // µLaw has no match in AIFF's integers: the 8-bit item by its bit depth.
    exporter->selectEncoding(encodingNamed(*exporter, "\xC2\xB5Law"));
    exporter->selectFileType(typeIndex(*exporter, kAudioFileAIFFType));
    EXPECT_EQ(exporter->encodingItems()[exporter->selectedEncodingIndex()].name, "8-bit Integer");
    EXPECT_EQ(exporter->formatEncoding(), kAudioFormatLinearPCM);

    // From an encoding without a bit depth, the last depth chosen decides.
    exporter->selectFileType(typeIndex(*exporter, kAudioFileAIFCType));
    exporter->selectEncoding(encodingNamed(*exporter, "24-bit Integer"));
    exporter->selectEncoding(encodingNamed(*exporter, "IMA 4:1"));
    EXPECT_EQ(exporter->bitsPerChannel(), 0u);
    exporter->selectFileType(typeIndex(*exporter, kAudioFileWAVEType));
    EXPECT_EQ(exporter->encodingItems()[exporter->selectedEncodingIndex()].name, "24-bit Integer");
    EXPECT_EQ(exporter->streamDescription().mBytesPerFrame, 6u);
    EXPECT_EQ(exporter->allowedExtension(), "wav");
    EXPECT_EQ(exporter->withAllowedExtension("/tmp/Song.aiff"), "/tmp/Song.wav");
}

TEST(OASoundExporter, TypedValuesThatCannotBeWrittenBlockTheExport)
{
    auto exporter = OASoundExporter::exporterWithDefaultFileType(
        kAudioFileWAVEType, integers(44100, 2, 16), 1.0f, "");
    EXPECT_EQ(exporter->prepareToRun(std::filesystem::path("/x"), std::nullopt), "/x/untitled.wav");
    EXPECT_TRUE(exporter->canExport());
    for (const char* rate : { "abc", "0", "-44100", "" }) {
        exporter->setSampleRateText(rate);
        EXPECT_FALSE(exporter->canExport()) << rate;
    }
    exporter->setSampleRateText("48000");
    exporter->setChannelsText("0");
    EXPECT_FALSE(exporter->canExport());
    exporter->setChannelsText("4");
    EXPECT_TRUE(exporter->canExport());
}

class ExporterConfirmation : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(dir / "Bounces");
        exporter = OASoundExporter::exporterWithDefaultFileType(
            kAudioFileWAVEType, integers(44100, 2, 16), 60.0f, "Song");
        exporter->setFilenameSuffixes(std::vector<std::string> { " (Kicks)", " (Snares)", " (Toms)" });
        exporter->prepareToRun(dir / "Bounces", std::nullopt);
        previous = OASoundExporter::setFreeSpaceFunction([this](const std::filesystem::path&) { return freeBytes; });
    }
    void TearDown() override { OASoundExporter::setFreeSpaceFunction(previous); }

    void touch(const std::string& name) { std::ofstream(dir / "Bounces" / name) << "x"; }

    rp::test::TempDir dir;
    std::unique_ptr<OASoundExporter> exporter;
    OASoundExporter::FreeSpaceFunction previous;
    std::optional<uint64_t> freeBytes = 1'000'000'000;
    rp::ScriptedPrompt prompt;
};

TEST_F(ExporterConfirmation, ExistingGroupFilesAreListedWithTheFolderSentenceForTheirNumber)
{
    touch("Song (Snares).wav");
    prompt.answerAlert(1, "Some files already exist. Do you want to replace them?");
    EXPECT_FALSE(exporter->confirmFilename(dir / "Bounces" / "Song.wav", prompt));
    ASSERT_EQ(prompt.asked().size(), 1u);
    EXPECT_EQ(prompt.asked()[0].message,
        "Song (Snares).wav\n\nThis file already exists in the folder Bounces. Replacing it will overwrite its "
        "current contents.");
    EXPECT_EQ(prompt.asked()[0].buttons, (std::vector<std::string> { "Replace", "Cancel" }));
    EXPECT_EQ(prompt.asked()[0].defaultButton, 1);

    touch("Song (Toms).wav");
    prompt.answerAlert(0);
    // The name typed without its extension gets it.
    ASSERT_TRUE(exporter->confirmFilename(dir / "Bounces" / "Song", prompt));
    EXPECT_EQ(prompt.asked()[1].message,
        "Song (Snares).wav\nSong (Toms).wav\n\nThese files already exist in the folder Bounces. Replacing them "
        "will overwrite their current contents.");
    EXPECT_EQ(exporter->fileURL(), dir / "Bounces" / "Song.wav");
    EXPECT_EQ(exporter->filenames(),
        (std::vector<std::filesystem::path> { dir / "Bounces" / "Song (Kicks).wav",
            dir / "Bounces" / "Song (Snares).wav", dir / "Bounces" / "Song (Toms).wav" }));
    prompt.verifyAllAnswered();
}

TEST_F(ExporterConfirmation, SingleFileAsksBeforeReplacingAndNothingNewAsksNothing)
{
    exporter->setFilenameSuffixes(std::nullopt);
    EXPECT_TRUE(exporter->confirmFilename(dir / "Bounces" / "Fresh.wav", prompt));
    EXPECT_TRUE(exporter->filenames().empty());
    touch("Mix.wav");
    prompt.answerAlert(1, "Mix.wav");
    EXPECT_FALSE(exporter->confirmFilename(dir / "Bounces" / "Mix.wav", prompt));
    prompt.verifyAllAnswered();
}

TEST_F(ExporterConfirmation, TooLittleFreeSpaceRefusesTheNameEvenAfterReplace)
{
    // Three files of 10,584,000 bytes: 34,927,200 needed with the margin.
    freeBytes = 34'927'199;
    prompt.answerAlert(0, "There is not enough free space.");
    EXPECT_FALSE(exporter->confirmFilename(dir / "Bounces" / "Song.wav", prompt));
    EXPECT_EQ(prompt.asked().at(0).message, "Only 34.9 MB are available on this volume.");
    EXPECT_TRUE(exporter->fileURL().empty());

    freeBytes = 34'927'200;
    EXPECT_TRUE(exporter->confirmFilename(dir / "Bounces" / "Song.wav", prompt));

    prompt.verifyAllAnswered();

    // Replacing one existing file does not make room for three.
    touch("Song (Kicks).wav");
    freeBytes = 1'000'000;
    rp::ScriptedPrompt replacing;
    replacing.answerAlert(0, "Some files already exist").answerAlert(0, "There is not enough free space.");
    EXPECT_FALSE(exporter->confirmFilename(dir / "Bounces" / "Song.wav", replacing));
    replacing.verifyAllAnswered();

    // A volume that cannot tell its free space does not block the export.
    freeBytes = std::nullopt;
    rp::ScriptedPrompt unknown;
    unknown.answerAlert(0, "Some files already exist");
    EXPECT_TRUE(exporter->confirmFilename(dir / "Bounces" / "Song.wav", unknown));
}

} // namespace
