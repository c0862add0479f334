#include "editor/ORPSongOpener.h"
#include "editor/ReconcileTestSupport.h"

#include "foundation/ScriptedPrompt.h"
#include "foundation/UndoManager.h"
#include "kit/ORPUserDefaults.h"

using namespace rp::test;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// A song "song.rpsong" in songs/ whose kit "Studio.rpkit" lies in kits/, with a kick and a closed
// hat; another kit "Other.rpkit" with the same drums and a kit "Odd.rpkit" without the hat.
struct OpenerFixture {
    OpenerFixture()
    {
        ORPSong::registerArchiveClasses();
        kit = savedKit(kitPath, "Studio", { { "Drums", "kick", "default" }, { "Cymbals", "hi hat", "closed" } });
        other = savedKit(otherPath, "Other", { { "Drums", "kick", "default" }, { "Cymbals", "hi hat", "closed" } });
        savedKit(oddPath, "Odd", { { "Drums", "kick", "default" }, { "Cymbals", "ride", "bell" } });
        auto song = emptySong();
        song->setDrumKit(kit, kitPath);
        auto bar = song->sectionList()[0]->patterns()[0];
        bar->addEventWithDrum(kit->drumWithTypeName("kick", "default"), 1.0f, 0.0f);
        bar->addEventWithDrum(kit->drumWithTypeName("hi hat", "closed"), 0.5f, 0.5f);
        fs::create_directories(songPath.parent_path());
        EXPECT_TRUE(song->writeToFile(songPath));
        prompt->setFailureHandler([](const std::string& message) { ADD_FAILURE() << message; });
    }

    std::optional<ORPSongOpener::Opened> open(rp::Error* error)
    {
        ORPSongOpener opener(reconciler, *prompt);
        return opener.openSong(songPath, error);
    }

    TempDir dir;
    ScopedKitDefaults defaults;
    fs::path kitPath = dir / "kits/Studio.rpkit";
    fs::path otherPath = dir / "kits/Other.rpkit";
    fs::path oddPath = dir / "odd/Odd.rpkit";
    fs::path songPath = dir / "songs/song.rpsong";
    ORPDrumKitPtr kit, other;
    std::shared_ptr<rp::ScriptedPrompt> prompt = std::make_shared<rp::ScriptedPrompt>();
    std::shared_ptr<ScriptedReconcilePanel> panel = std::make_shared<ScriptedReconcilePanel>();
    ORPReconcileController reconciler { panel };
};

Names boundDrums(const ORPSong& song, const ORPDrumKitPtr& kit)
{
    Names names;
    for (const auto& event : *song.allPatterns()[0]->events()) {
        const auto& drums = kit->drums();
        const bool own = std::find(drums.begin(), drums.end(), event->drum()) != drums.end();
        names.push_back(event->drum()->typeName() + (own ? "" : " (not the kit's)"));
    }
    return names;
}

} // namespace

TEST(SongOpener, FindsTheKitWhereItWasOrBesideTheSong)
{
    OpenerFixture f;
    rp::Error error;
    auto opened = f.open(&error);
    ASSERT_TRUE(opened) << error.text();
    EXPECT_EQ(opened->kitURL, f.kitPath);
    EXPECT_EQ(opened->song->drumKitURL(), f.kitPath);
    EXPECT_FALSE(opened->changedSinceRead);
    EXPECT_EQ(boundDrums(*opened->song, opened->song->drumKit()), (Names { "kick", "hi hat" }));

    // Copied next to the song and gone from where it was (a new file, so the stored reference
    // cannot follow it): opens without asking anyone.
    fs::copy(f.kitPath, f.songPath.parent_path() / "Studio.rpkit", fs::copy_options::recursive);
    fs::remove_all(f.kitPath);
    opened = f.open(&error);
    ASSERT_TRUE(opened) << error.text();
    EXPECT_EQ(opened->kitURL, f.songPath.parent_path() / "Studio.rpkit");
    EXPECT_FALSE(opened->changedSinceRead);
    EXPECT_EQ(boundDrums(*opened->song, opened->song->drumKit()), (Names { "kick", "hi hat" }));
    EXPECT_TRUE(f.prompt->asked().empty());
    EXPECT_EQ(f.panel->runs(), 0u);

    // A song file that cannot be read fails with its own error, asking nothing.
    writeFileBytes(f.songPath, { 1, 2, 3 });
    EXPECT_FALSE(f.open(&error));
    EXPECT_TRUE(error.isApplicationError(rp::kErrorInvalidFile)) << error.text();
}

TEST(SongOpener, MissingKitCancelledFailsWithNoDrumKitAssigned)
{
    OpenerFixture f;
    fs::remove_all(f.kitPath);
    // Cancel at the alert; then Choose but cancel the file panel.
    f.prompt->answerAlert(1).answerAlert(0).answerChooseFile(std::nullopt);
    for (int attempt = 0; attempt < 2; ++attempt) {
        rp::Error error;
        EXPECT_FALSE(f.open(&error));
        EXPECT_TRUE(error.isApplicationError(rp::kErrorNoDrumKit)) << error.text();
        EXPECT_EQ(error.description, "'song.rpsong' couldn't be opened because no drum kit was assigned.");
        EXPECT_EQ(error.failureReason, "No drum kit was assigned.");
        EXPECT_EQ(error.recoverySuggestion, "To open this song, you must choose a drum kit to use with it.");
        EXPECT_EQ(error.url, rp::fileURLFromPath(f.songPath.string()));
    }
    f.prompt->verifyAllAnswered();
    const auto& asked = f.prompt->asked();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].title, "Can't find drum kit 'Studio.rpkit'");
    EXPECT_EQ(asked[0].message, "Please choose a drum kit to use for this song.");
    EXPECT_EQ(asked[0].buttons, (Names { "Choose...", "Cancel" }));
    EXPECT_EQ(asked[0].defaultButton, 0);
    // The file panel starts in the folder of the last location tried: beside the song.
    EXPECT_EQ(asked[2].kind, rp::ScriptedPrompt::Kind::ChooseFile);
    EXPECT_EQ(asked[2].message, "Choose a Drum Kit");
    EXPECT_EQ(asked[2].buttons, Names { "Choose" });
    EXPECT_EQ(asked[2].allowedTypes, Names { "rpkit" });
    EXPECT_EQ(asked[2].startDirectory, f.songPath.parent_path());
}

TEST(SongOpener, ChoosingAKitLoopsUntilOneLoadsAndIsAccepted)
{
    OpenerFixture f;
    fs::remove_all(f.kitPath);
    fs::create_directories(f.dir / "empty.rpkit");
    // A folder that holds no kit: its error is shown and the alert comes again. Then a kit lacking
    // the hat whose panel the user closes: asked again, starting where that kit lies. Then a kit
    // with every drum.
    f.prompt->answerAlert(0)
        .answerChooseFile(f.dir / "empty.rpkit")
        .expectError(rp::kErrorInvalidFile)
        .answerAlert(0)
        .answerChooseFile(f.oddPath)
        .answerAlert(0, "Studio.rpkit")
        .answerChooseFile(f.otherPath);
    f.panel->setScript([](ReconcilePanelModel& model) {
        model.close();
        return false;
    });
    rp::Error error;
    auto opened = f.open(&error);
    ASSERT_TRUE(opened) << error.text();
    f.prompt->verifyAllAnswered();
    EXPECT_EQ(f.panel->titles, Names { "Reconcile Drum Kit" });
    EXPECT_EQ(f.prompt->asked()[2].title, "'empty.rpkit' is not a valid Rattlepan drum kit file, or may be corrupt.");
    EXPECT_EQ(f.prompt->asked()[6].startDirectory, f.oddPath.parent_path());
    EXPECT_TRUE(opened->changedSinceRead);
    EXPECT_EQ(opened->kitURL, f.otherPath);
    EXPECT_EQ(opened->song->drumKit(), opened->kit);
    EXPECT_EQ(boundDrums(*opened->song, opened->kit), (Names { "kick", "hi hat" }));
}

TEST(SongKitChanger, SwapIsUndoneAndRedoneWithKitURLAndDrums)
{
    OpenerFixture f;
    auto opened = f.open(nullptr);
    ASSERT_TRUE(opened);
    const auto song = opened->song;
    const auto events = *song->allPatterns()[0]->events();
    const auto oldDrums = drumsOf(events);
    rp::UndoManager undo;
    undo.setGroupsByEvent(false);
    int swaps = 0;
    auto changer = ORPSongKitChanger::changer(song, f.reconciler, *f.prompt, &undo, [&] { ++swaps; });

    // Cancelled, a kit that does not load, a declined panel: nothing changes, nothing to undo.
    fs::create_directories(f.dir / "empty.rpkit");
    f.prompt->answerChooseFile(std::nullopt)
        .answerChooseFile(f.dir / "empty.rpkit")
        .expectError(rp::kErrorInvalidFile)
        .answerChooseFile(f.oddPath);
    f.panel->setScript([](ReconcilePanelModel& model) {
        model.close();
        return false;
    });
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(changer->changeDrumKitAction());
    EXPECT_EQ(f.prompt->asked()[0].startDirectory, f.kitPath.parent_path());
    EXPECT_EQ(song->drumKit(), opened->kit);
    EXPECT_EQ(drumsOf(events), oldDrums);
    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(swaps, 0);

    f.prompt->answerChooseFile(f.otherPath);
    ASSERT_TRUE(changer->changeDrumKitAction());
    f.prompt->verifyAllAnswered();
    const auto newKit = song->drumKit();
    const auto newDrums = drumsOf(events);
    EXPECT_NE(newKit, opened->kit);
    EXPECT_EQ(song->drumKitURL(), f.otherPath);
    EXPECT_EQ(boundDrums(*song, newKit), (Names { "kick", "hi hat" }));
    EXPECT_EQ(undo.undoActionName(), "Change Drum Kit");
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), f.otherPath);

    for (int round = 0; round < 2; ++round) {
        undo.undo();
        EXPECT_EQ(song->drumKit(), opened->kit);
        EXPECT_EQ(song->drumKitURL(), f.kitPath);
        EXPECT_EQ(drumsOf(events), oldDrums);
        ASSERT_TRUE(undo.canRedo());
        undo.redo();
        EXPECT_EQ(song->drumKit(), newKit);
        EXPECT_EQ(song->drumKitURL(), f.otherPath);
        EXPECT_EQ(drumsOf(events), newDrums);
    }
    EXPECT_EQ(swaps, 5);

    // A changer that is gone leaves no inverse behind that would act on a dead document.
    changer.reset();
    EXPECT_FALSE(undo.canUndo());
}
