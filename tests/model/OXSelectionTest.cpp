#include "model/OXSelection.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"

#include <gtest/gtest.h>

namespace {

using Ranges = std::vector<float>; // flat: start, end, start, end ...

OXSelection with(const Ranges& flat)
{
    OXSelection selection;
    for (size_t i = 0; i + 1 < flat.size(); i += 2)
        selection.select(true, flat[i], flat[i + 1]);
    return selection;
}

TEST(OXSelection, SelectingAndDeselectingKeepsDisjointSortedRanges)
{
    struct Case {
        const char* what;
        Ranges before;
        bool add;
        float from, to;
        Ranges after;
    };
    const Case cases[] = {
        { "touching ranges merge", { 0.25f, 0.5f }, true, 0.5f, 0.75f, { 0.25f, 0.75f } },
        { "a range swallows several", { 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f }, true, 0.15f, 0.75f,
            { 0.1f, 0.8f } },
        { "added out of order", { 0.6f, 0.7f, 0.1f, 0.2f }, true, 0.35f, 0.4f,
            { 0.1f, 0.2f, 0.35f, 0.4f, 0.6f, 0.7f } },
        { "bridging a gap", { 0.1f, 0.2f, 0.35f, 0.4f, 0.6f, 0.7f }, true, 0.2f, 0.35f,
            { 0.1f, 0.4f, 0.6f, 0.7f } },
        { "extending the last", { 0.1f, 0.4f, 0.6f, 0.7f }, true, 0.65f, 0.9f, { 0.1f, 0.4f, 0.6f, 0.9f } },
        { "a new first", { 0.1f, 0.4f }, true, 0.0f, 0.05f, { 0.0f, 0.05f, 0.1f, 0.4f } },
        { "contained", { 0.1f, 0.4f }, true, 0.2f, 0.3f, { 0.1f, 0.4f } },
        { "empty", { 0.1f, 0.4f }, true, 0.3f, 0.3f, { 0.1f, 0.4f } },
        { "reversed", { 0.1f, 0.4f }, true, 0.5f, 0.4f, { 0.1f, 0.4f } },
        { "removing splits", { 0.25f, 0.75f }, false, 0.4f, 0.6f, { 0.25f, 0.4f, 0.6f, 0.75f } },
        { "removing trims both sides", { 0.25f, 0.4f, 0.6f, 0.75f }, false, 0.3f, 0.65f,
            { 0.25f, 0.3f, 0.65f, 0.75f } },
        { "removing what only touches", { 0.25f, 0.5f }, false, 0.5f, 0.75f, { 0.25f, 0.5f } },
        { "removing several", { 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f }, false, 0.1f, 0.45f, { 0.5f, 0.6f } },
        { "removing all", { 0.1f, 0.2f, 0.5f, 0.6f }, false, 0.0f, 1.0f, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto selection = with(c.before);
        selection.select(c.add, c.from, c.to);
        EXPECT_EQ(selection.rangeArray(), c.after);
    }
}

TEST(OXSelection, NormalizingSnapsOutwardAndNeverShrinks)
{
    struct Case {
        Ranges before;
        float granularity;
        Ranges after;
    };
    // A start just past half-way between lines still goes to the earlier line; in a bar of 5 cells
    // of 0.3 the last cell is counted back from the end of the bar; a nonsensical step changes nothing.
    const Case cases[]
        = { { { 0.12f, 0.3f }, 0.25f, { 0.0f, 0.3f } }, { { 0.37505f, 0.5f }, 0.25f, { 0.25f, 0.5f } },
              { { 0.9f, 0.95f }, 0.3f, { 0.9f, 1.0f } }, { { 0.1f, 0.2f }, 0.0f, { 0.1f, 0.2f } } };
    for (const auto& c : cases) {
        auto selection = with(c.before);
        selection.normalizeToGranularity(c.granularity);
        ASSERT_EQ(selection.rangeArray().size(), c.after.size());
        for (size_t i = 0; i < c.after.size(); ++i)
            EXPECT_NEAR(selection.rangeArray()[i], c.after[i], 1e-6)
                << c.before[0] << " by " << c.granularity;
    }
}

TEST(OXSelection, QueriesAddingSelectionsAndArchiving)
{
    auto selection = with({ 0.25f, 0.75f });
    EXPECT_FALSE(selection.isSelected(0.75f));
    EXPECT_TRUE(selection.isSelected(0.25f));
    // 1: wholly inside, 2: partly, 0: outside or only touching.
    EXPECT_EQ(selection.selectionFrom(0.3f, 0.5f), 1);
    EXPECT_EQ(selection.selectionFrom(0.5f, 0.9f), 2);
    EXPECT_EQ(selection.selectionFrom(0.75f, 1.0f), 0);
    EXPECT_EQ(selection.selectionFrom(0.0f, 0.25f), 0);

    // Adding selections joins what touches.
    auto a = with({ 0.1f, 0.2f });
    a.addSelection(with({ 0.2f, 0.3f, 0.5f, 0.6f }));
    a.addSelection(a);
    EXPECT_EQ(a.rangeArray(), (Ranges { 0.1f, 0.3f, 0.5f, 0.6f }));

    OXSelection::registerArchiveClasses();
    auto stored = std::make_shared<OXSelection>(a);
    auto back = std::dynamic_pointer_cast<OXSelection>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(rp::KeyedArchiver::archivedDataWithRootObject(stored)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->rangeArray(), a.rangeArray());
}

} // namespace
