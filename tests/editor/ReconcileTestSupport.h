#pragma once

// Kits and songs on disk for the reconciliation and song-opening tests, and a reconcile panel
// that runs a test's script instead of a window.

#include "editor/ORPReconcileController.h"
#include "kit/KitTestSupport.h"
#include "model/ORPSection.h"
#include "model/ORPSong.h"

#include <functional>
#include <gtest/gtest.h>

namespace rp::test {

// Runs `script` on the model as the user would; records every run's title and rows as shown.
class ScriptedReconcilePanel : public ReconcilePanel {
public:
    using Script = std::function<bool(ReconcilePanelModel&)>;
    explicit ScriptedReconcilePanel(Script script = {})
        : script_(std::move(script))
    {
    }
    void setScript(Script script) { script_ = std::move(script); }

    bool runModal(ReconcilePanelModel& model) override
    {
        titles.push_back(model.title());
        std::vector<ReconcileEntry> shown;
        for (size_t row = 0; row < model.rowCount(); ++row)
            shown.push_back(model.entry(row));
        rowsShown.push_back(shown);
        okEnabledAtStart.push_back(model.okEnabled());
        selectedAtStart.push_back(model.selectedRow());
        if (!script_) {
            ADD_FAILURE() << "the reconcile panel was shown unexpectedly";
            model.close();
            return false;
        }
        return script_(model);
    }

    size_t runs() const { return titles.size(); }

    std::vector<std::string> titles;
    std::vector<std::vector<ReconcileEntry>> rowsShown;
    std::vector<bool> okEnabledAtStart;
    std::vector<std::optional<size_t>> selectedAtStart;

private:
    Script script_;
};

// A panel script: OK pressed at once.
inline bool pressOK(ReconcilePanelModel& model)
{
    return model.ok();
}

// A kit of `drums` (group, type, variant), each with a short sound, saved as a bundle at `path`
// and loaded back from it, as the application would have it.
inline ORPDrumKitPtr savedKit(const std::filesystem::path& path, const std::string& name,
    const std::vector<std::tuple<std::string, std::string, std::string>>& drums)
{
    std::filesystem::create_directories(path.parent_path());
    const auto sound = makeSoundFile(path.parent_path() / (name + ".aiff"));
    auto kit = ORPDrumKit::kit();
    kit->setKitName(name);
    for (const auto& [group, type, variant] : drums)
        kit->addDrum(makeDrumWithSound(group, type, variant, sound));
    EXPECT_TRUE(kit->saveToPath(path));
    auto loaded = ORPDrumKit::drumKitFromURL(path, false);
    EXPECT_TRUE(loaded);
    return loaded;
}

// A song without a document holding one section of `bars` empty bars.
inline ORPSongPtr emptySong(size_t bars = 1)
{
    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::song();
    auto section = song->sectionList()[0];
    while (section->patterns().size() < bars)
        section->insertPatterns({ ORPPattern::pattern() }, section->patterns().size());
    return song;
}

inline std::vector<ORPDrumPtr> drumsOf(const std::vector<ORPEventPtr>& events)
{
    std::vector<ORPDrumPtr> drums;
    for (const auto& event : events)
        drums.push_back(event->drum());
    return drums;
}

inline std::vector<std::string> namesOf(const std::vector<ORPDrumPtr>& drums)
{
    std::vector<std::string> names;
    for (const auto& drum : drums)
        names.push_back(drum ? drum->typeName() + "/" + drum->variantName() : "-");
    return names;
}

} // namespace rp::test
