#include "editor/ReconcileTestSupport.h"

#include "foundation/UserDefaults.h"

using namespace rp::test;
using Names = std::vector<std::string>;
using rp::PropertyArray;
using rp::PropertyDictionary;

namespace {

constexpr const char* kCacheKey = "RPReconcileCacheByType";

// The target kit of every test: a kick, a snare with two variants, a closed hat.
struct ReconcileFixture {
    ReconcileFixture()
    {
        kit = savedKit(dir / "Target.rpkit", "Target",
            { { "Drums", "kick", "default" }, { "Drums", "snare", "default" }, { "Drums", "snare", "rim" },
                { "Cymbals", "hi hat", "closed" } });
    }
    ORPDrumPtr target(const std::string& type, const std::string& variant) const
    {
        auto drum = kit->drumWithTypeName(type, variant);
        EXPECT_TRUE(drum) << type << "/" << variant;
        return drum;
    }
    // The remembered choices for type/variant as "type/variant" texts, newest first.
    Names cached(const std::string& type, const std::string& variant) const
    {
        Names names;
        const auto cache = defaults.store().dictionaryForKey(kCacheKey);
        if (!cache || !cache->count(type))
            return names;
        const auto& variants = *cache->at(type).getIf<PropertyDictionary>();
        if (!variants.count(variant))
            return names;
        for (const auto& choice : *variants.at(variant).getIf<PropertyArray>()) {
            const auto* entry = choice.getIf<PropertyDictionary>();
            if (!entry || !entry->count("type") || !entry->at("type").getIf<std::string>()) {
                names.push_back("?"); // a damaged choice, kept as it was
                continue;
            }
            EXPECT_TRUE(entry->at("date").getIf<rp::PropertyDate>());
            names.push_back(*entry->at("type").getIf<std::string>() + "/" + *entry->at("variant").getIf<std::string>());
        }
        return names;
    }
    void remember(const std::string& type, const std::string& variant, const Names& choices)
    {
        PropertyArray list;
        for (const auto& choice : choices) {
            const auto slash = choice.find('/');
            PropertyDictionary entry;
            entry["type"] = choice.substr(0, slash);
            entry["variant"] = choice.substr(slash + 1);
            entry["date"] = rp::PropertyDate { 1.0 };
            list.emplace_back(std::move(entry));
        }
        auto cache = defaults.store().dictionaryForKey(kCacheKey).value_or(PropertyDictionary {});
        auto variants = cache[type].getIf<PropertyDictionary>() ? *cache[type].getIf<PropertyDictionary>()
                                                                : PropertyDictionary {};
        variants[variant] = list;
        cache[type] = variants;
        ASSERT_TRUE(defaults.store().setObject(cache, kCacheKey));
    }

    rp::test::TempDir dir;
    mutable ScopedKitDefaults defaults;
    ORPDrumKitPtr kit;
    std::shared_ptr<ScriptedReconcilePanel> panel = std::make_shared<ScriptedReconcilePanel>();
    ORPReconcileController reconciler { panel };
};

} // namespace

TEST(ReconcileController, ExactNamesNeedNoPanelAndEachDrumObjectIsOneEntry)
{
    ReconcileFixture f;
    // Two drum objects named alike (as from two kits), one of them used twice; a pattern given as
    // an instance stands for its pattern.
    auto kickA = rp::test::makeDrum("Drums", "kick", "default");
    auto kickB = rp::test::makeDrum("Other", "kick", "default");
    auto rim = rp::test::makeDrum("Drums", "snare", "rim");
    auto first = ORPPattern::pattern();
    auto e1 = first->addEventWithDrum(kickA, 1.0f, 0.0f);
    auto e2 = first->addEventWithDrum(rim, 1.0f, 0.25f);
    auto e3 = first->addEventWithDrum(kickA, 1.0f, 0.5f);
    auto second = ORPPattern::pattern();
    auto e4 = second->addEventWithDrum(kickB, 1.0f, 0.0f);
    auto instance = ORPPatternInstance::initWithPattern(second, nullptr);

    ASSERT_TRUE(f.reconciler.prepareInteractivelyForPatterns(
        std::vector<ReconcileItem> { first, instance }, f.kit, "Paste Bars"));
    EXPECT_EQ(f.panel->runs(), 0u);
    EXPECT_EQ(f.reconciler.reconciledEvents(), (std::vector<ORPEventPtr> { e1, e2, e3, e4 }));
    EXPECT_EQ(f.reconciler.reconciledDrums(),
        (std::vector<ORPDrumPtr> { f.target("kick", "default"), f.target("snare", "rim"), f.target("kick", "default"),
            f.target("kick", "default") }));
    ASSERT_EQ(f.reconciler.entries().size(), 3u);
    EXPECT_EQ(f.reconciler.entries()[0].proxyDrum, kickA);
    EXPECT_EQ(f.reconciler.entries()[2].proxyDrum, kickB);
    // Preparing changes nothing; doReconcile gives every event its drum.
    EXPECT_EQ(e1->drum(), kickA);
    f.reconciler.doReconcile();
    EXPECT_EQ(drumsOf({ e1, e2, e3, e4 }), f.reconciler.reconciledDrums());
    EXPECT_FALSE(f.defaults.store().hasStoredValue(kCacheKey));
}

TEST(ReconcileController, MissingDrumsAreSortedAndOKWaitsForEveryDestination)
{
    ReconcileFixture f;
    // Names that differ only by case do not match: the lookup is exact.
    auto pattern = ORPPattern::pattern();
    for (const auto& [type, variant] : std::vector<std::pair<std::string, std::string>> {
             { "kick", "default" }, { "tom", "low" }, { "Snare", "rim" }, { "Bell", "b" }, { "bell", "A" } })
        pattern->addEventWithDrum(
            rp::test::makeDrum("G", type, variant), 1.0f, static_cast<float>(pattern->events()->size()) / 8);

    f.panel->setScript([&](ReconcilePanelModel& model) {
        // The rows without a proposal first, by type then variant ignoring case; the match last.
        EXPECT_EQ(namesOf({ model.sourceDrum(0), model.sourceDrum(1), model.sourceDrum(2), model.sourceDrum(3),
                      model.sourceDrum(4) }),
            (Names { "bell/A", "Bell/b", "Snare/rim", "tom/low", "kick/default" }));
        EXPECT_EQ(model.destinationDrum(4), f.target("kick", "default"));
        EXPECT_FALSE(model.destinationDrum(0));
        EXPECT_EQ(model.selectedRow(), std::optional<size_t>(0));
        EXPECT_FALSE(model.pickerSelection());
        EXPECT_FALSE(model.ok()); // OK is disabled: the modal run goes on
        EXPECT_FALSE(model.modalResult());

        // The picker follows the selected row; picks go to it; drums of other kits are refused.
        model.selectRow(4);
        EXPECT_EQ(model.pickerSelection(), f.target("kick", "default"));
        EXPECT_EQ(model.drumToAudition(), f.target("kick", "default"));
        model.selectRow(std::nullopt);
        EXPECT_FALSE(model.pickDrum(f.target("snare", "default")));
        model.selectRow(99);
        EXPECT_FALSE(model.selectedRow());
        for (size_t row = 0; row < 4; ++row) {
            model.selectRow(row);
            EXPECT_FALSE(model.pickDrum(rp::test::makeDrum("Drums", "snare", "default")));
            EXPECT_TRUE(model.pickDrum(row < 3 ? f.target("snare", "rim") : f.target("kick", "default")));
            EXPECT_TRUE(model.entry(row).isNewMapping);
            EXPECT_EQ(model.pickerSelection(), model.destinationDrum(row));
            EXPECT_EQ(model.okEnabled(), row == 3);
        }
        return model.ok();
    });
    ASSERT_TRUE(f.reconciler.prepareInteractivelyForPatterns(std::vector { pattern }, f.kit, "Change Drum Kit"));
    EXPECT_EQ(f.panel->titles, Names { "Change Drum Kit" });
    EXPECT_EQ(f.panel->okEnabledAtStart, std::vector<bool> { false });
    EXPECT_TRUE(f.panel->rowsShown[0][0].initiallyEmpty);
    EXPECT_FALSE(f.panel->rowsShown[0][4].initiallyEmpty);
    // Results in event order; the choices are remembered under the used drums' own names.
    EXPECT_EQ(namesOf(f.reconciler.reconciledDrums()),
        (Names { "kick/default", "kick/default", "snare/rim", "snare/rim", "snare/rim" }));
    EXPECT_EQ(f.cached("tom", "low"), Names { "kick/default" });
    EXPECT_EQ(f.cached("Snare", "rim"), Names { "snare/rim" });
    EXPECT_EQ(f.cached("kick", "default"), Names {});
}

TEST(ReconcileController, CachedChoicesArePreFilledAndOnlyNewMappingsAreRemembered)
{
    ReconcileFixture f;
    // Newest first: a choice naming nothing in this kit, one differing by case only, then a match.
    f.remember("Cowbell", "high", { "gong/big", "Hi Hat/closed", "hi hat/closed" });
    f.remember("Clap", "default", { "snare/default" });
    auto pattern = ORPPattern::pattern();
    auto cowbell = rp::test::makeDrum("Perc", "Cowbell", "high");
    auto clap = rp::test::makeDrum("Perc", "Clap", "default");
    pattern->addEventWithDrum(cowbell, 1.0f, 0.0f);
    pattern->addEventWithDrum(clap, 1.0f, 0.5f);

    // First run: the proposals stand; a pick that returns to the proposal is no new mapping.
    f.panel->setScript([&](ReconcilePanelModel& model) {
        EXPECT_EQ(model.destinationDrum(0), f.target("snare", "default")); // Clap sorts first
        EXPECT_EQ(model.destinationDrum(1), f.target("hi hat", "closed"));
        EXPECT_FALSE(model.entry(1).initiallyEmpty);
        model.selectRow(1);
        EXPECT_TRUE(model.pickDrum(f.target("kick", "default")));
        EXPECT_TRUE(model.entry(1).isNewMapping);
        EXPECT_TRUE(model.pickDrum(f.target("hi hat", "closed")));
        EXPECT_FALSE(model.entry(1).isNewMapping);
        return model.ok();
    });
    ASSERT_TRUE(f.reconciler.reconcileInteractivelyForPatterns(std::vector { pattern }, f.kit, "Reconcile Drum Kit"));
    EXPECT_EQ(f.panel->okEnabledAtStart, std::vector<bool> { true }); // shown all the same
    EXPECT_EQ(namesOf(drumsOf(*pattern->events())), (Names { "hi hat/closed", "snare/default" }));
    EXPECT_EQ(f.cached("Cowbell", "high"), (Names { "gong/big", "Hi Hat/closed", "hi hat/closed" }));

    // The same new mapping chosen twice (for two cowbells of the same names from different kits) is
    // stored twice, newest first, in front of the older ones.
    pattern->events()->at(0)->setDrum(cowbell);
    pattern->events()->at(1)->setDrum(clap);
    pattern->addEventWithDrum(rp::test::makeDrum("Perc", "Cowbell", "high"), 1.0f, 0.75f);
    f.panel->setScript([&](ReconcilePanelModel& model) {
        EXPECT_EQ(model.rowCount(), 3u);
        for (size_t row : { 1, 2 }) {
            model.selectRow(row);
            model.pickDrum(f.target("snare", "rim"));
        }
        return model.ok();
    });
    ASSERT_TRUE(f.reconciler.prepareInteractivelyForPatterns(std::vector { pattern }, f.kit, "Paste"));
    EXPECT_EQ(f.cached("Cowbell", "high"),
        (Names { "snare/rim", "snare/rim", "gong/big", "Hi Hat/closed", "hi hat/closed" }));
    const auto cache = f.defaults.store().dictionaryForKey(kCacheKey);
    const auto& list = *cache->at("Cowbell").getIf<PropertyDictionary>()->at("high").getIf<PropertyArray>();
    const auto dateOf = [&](size_t i) {
        return list[i].getIf<PropertyDictionary>()->at("date").getIf<rp::PropertyDate>()->secondsSinceReferenceDate;
    };
    EXPECT_GE(dateOf(0), dateOf(1));
    EXPECT_GT(dateOf(1), 7.0e8); // now, not the epoch of the reference date
}

TEST(ReconcileController, ClosingThePanelChangesNothingAndEmptiesTheResults)
{
    ReconcileFixture f;
    auto pattern = ORPPattern::pattern();
    auto kick = rp::test::makeDrum("Drums", "kick", "default");
    auto tom = rp::test::makeDrum("Drums", "tom", "low");
    pattern->addEventWithDrum(kick, 1.0f, 0.0f);
    pattern->addEventWithDrum(tom, 1.0f, 0.5f);
    // A first preparation fills the lists; each later refusal must leave them empty.
    f.panel->setScript([&](ReconcilePanelModel& model) {
        model.selectRow(0);
        model.pickDrum(f.target("snare", "default"));
        return model.ok();
    });
    ASSERT_TRUE(f.reconciler.prepareInteractivelyForPatterns(std::vector { pattern }, f.kit, "Paste"));
    ASSERT_EQ(f.reconciler.reconciledEvents().size(), 2u);
    f.defaults.store().removeObjectForKey(kCacheKey);

    const std::vector<std::pair<const char*, ScriptedReconcilePanel::Script>> refusals {
        { "closed after a pick",
            [&](ReconcilePanelModel& model) {
                model.pickDrum(f.target("snare", "default"));
                model.close();
                return false;
            } },
        // A panel that reports success without OK having ended it is not taken at its word.
        { "claims OK while a row is empty", [](ReconcilePanelModel&) { return true; } },
    };
    for (const auto& [name, script] : refusals) {
        SCOPED_TRACE(name);
        f.panel->setScript(script);
        EXPECT_FALSE(f.reconciler.reconcileInteractivelyForPatterns(std::vector { pattern }, f.kit, "Paste"));
        EXPECT_TRUE(f.reconciler.reconciledEvents().empty());
        EXPECT_TRUE(f.reconciler.reconciledDrums().empty());
        EXPECT_EQ(drumsOf(*pattern->events()), (std::vector<ORPDrumPtr> { kick, tom }));
        EXPECT_FALSE(f.defaults.store().hasStoredValue(kCacheKey));
    }
}

TEST(ReconcileController, DamagedCacheLevelsAreIgnoredAndReplaced)
{
    ReconcileFixture f;
    // Built step by step: GCC 12 misreads nested property-value literals as uninitialised.
    PropertyDictionary tom, badChoice, bell, damaged;
    tom["low"] = "not a list";
    badChoice["type"] = 1;
    PropertyArray bellChoices;
    bellChoices.push_back(3);
    bellChoices.push_back(badChoice);
    bell["x"] = bellChoices;
    damaged["tom"] = tom;
    damaged["gong"] = 7;
    damaged["bell"] = bell;
    ASSERT_TRUE(f.defaults.store().setObject(damaged, kCacheKey));
    auto pattern = ORPPattern::pattern();
    for (const auto& [type, variant] :
        std::vector<std::pair<std::string, std::string>> { { "tom", "low" }, { "gong", "big" }, { "bell", "x" } })
        pattern->addEventWithDrum(rp::test::makeDrum("G", type, variant), 1.0f, 0.0f);
    f.panel->setScript([&](ReconcilePanelModel& model) {
        for (size_t row = 0; row < model.rowCount(); ++row) {
            EXPECT_FALSE(model.destinationDrum(row));
            model.selectRow(row);
            model.pickDrum(f.target("kick", "default"));
        }
        return model.ok();
    });
    ASSERT_TRUE(f.reconciler.prepareInteractivelyForPatterns(std::vector { pattern }, f.kit, "Paste"));
    EXPECT_EQ(f.cached("tom", "low"), Names { "kick/default" });
    EXPECT_EQ(f.cached("gong", "big"), Names { "kick/default" });
    EXPECT_EQ(f.cached("bell", "x"), (Names { "kick/default", "?", "?" }));
}

TEST(ReconcileController, NonInteractivePanelKeepsUnmatchedDrumsAndRemembersNothing)
{
    ReconcileFixture f;
    f.remember("Clap", "default", { "snare/default" });
    auto panel = std::make_shared<NonInteractiveReconcilePanel>();
    ORPReconcileController reconciler(panel);
    auto pattern = ORPPattern::pattern();
    auto tom = rp::test::makeDrum("G", "tom", "low");
    auto event = pattern->addEventWithDrum(tom, 1.0f, 0.0f);
    auto clap = pattern->addEventWithDrum(rp::test::makeDrum("G", "Clap", "default"), 1.0f, 0.5f);
    const auto before = f.defaults.store().dictionaryForKey(kCacheKey);
    ASSERT_TRUE(reconciler.reconcileInteractivelyForPatterns(std::vector { pattern }, f.kit, "Reconcile Drum Kit"));
    EXPECT_EQ(panel->unmatchedDrums(), std::vector<ORPDrumPtr> { tom });
    EXPECT_EQ(event->drum(), tom);
    EXPECT_EQ(clap->drum(), f.target("snare", "default"));
    EXPECT_EQ(f.defaults.store().dictionaryForKey(kCacheKey), before);
}
