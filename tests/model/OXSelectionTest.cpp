#include "model/OXSelection.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"

#include <gtest/gtest.h>

namespace {

std::vector<float> ranges(std::initializer_list<std::pair<float, float>> pairs)
{
    std::vector<float> flat;
    for (auto [s, e] : pairs) {
        flat.push_back(s);
        flat.push_back(e);
    }
    return flat;
}

OXSelection with(std::initializer_list<std::pair<float, float>> pairs)
{
    OXSelection selection;
    for (auto [s, e] : pairs)
        selection.select(true, s, e);
    return selection;
}

TEST(OXSelection, AddingMergesTouchingAndSwallowedRanges)
{
    auto touching = with({ { 0.25f, 0.5f }, { 0.5f, 0.75f } });
    EXPECT_EQ(touching.rangeArray(), ranges({ { 0.25f, 0.75f } }));

    auto four = with({ { 0.1f, 0.2f }, { 0.3f, 0.4f }, { 0.5f, 0.6f }, { 0.7f, 0.8f } });
    four.select(true, 0.15f, 0.75f);
    EXPECT_EQ(four.rangeArray(), ranges({ { 0.1f, 0.8f } }));

    // Added out of order, disjoint ranges stay sorted; one bridging two gaps joins them.
    auto unordered = with({ { 0.6f, 0.7f }, { 0.1f, 0.2f }, { 0.35f, 0.4f } });
    EXPECT_EQ(unordered.rangeArray(), ranges({ { 0.1f, 0.2f }, { 0.35f, 0.4f }, { 0.6f, 0.7f } }));
    unordered.select(true, 0.2f, 0.35f);
    EXPECT_EQ(unordered.rangeArray(), ranges({ { 0.1f, 0.4f }, { 0.6f, 0.7f } }));
    unordered.select(true, 0.65f, 0.9f);
    EXPECT_EQ(unordered.rangeArray(), ranges({ { 0.1f, 0.4f }, { 0.6f, 0.9f } }));
    unordered.select(true, 0.0f, 0.05f);
    EXPECT_EQ(unordered.rangeArray(), ranges({ { 0.0f, 0.05f }, { 0.1f, 0.4f }, { 0.6f, 0.9f } }));

    // Contained, empty and reversed ranges change nothing.
    unordered.select(true, 0.2f, 0.3f);
    unordered.select(true, 0.3f, 0.3f);
    unordered.select(true, 0.5f, 0.4f);
    EXPECT_EQ(unordered.rangeArray(), ranges({ { 0.0f, 0.05f }, { 0.1f, 0.4f }, { 0.6f, 0.9f } }));
}

TEST(OXSelection, RemovingSplitsTrimsAndEmpties)
{
    auto selection = with({ { 0.25f, 0.75f } });
    selection.select(false, 0.4f, 0.6f);
    EXPECT_EQ(selection.rangeArray(), ranges({ { 0.25f, 0.4f }, { 0.6f, 0.75f } }));

    selection.select(false, 0.3f, 0.65f); // trims the first, cuts the start of the second
    EXPECT_EQ(selection.rangeArray(), ranges({ { 0.25f, 0.3f }, { 0.65f, 0.75f } }));

    auto untouched = with({ { 0.25f, 0.5f } });
    untouched.select(false, 0.5f, 0.75f);
    EXPECT_EQ(untouched.rangeArray(), ranges({ { 0.25f, 0.5f } }));

    auto several = with({ { 0.1f, 0.2f }, { 0.3f, 0.4f }, { 0.5f, 0.6f } });
    several.select(false, 0.1f, 0.45f);
    EXPECT_EQ(several.rangeArray(), ranges({ { 0.5f, 0.6f } }));

    several.select(false, 0.0f, 1.0f);
    EXPECT_FALSE(several.anySelection());
    EXPECT_EQ(several.description(), "[0,0)");
}

TEST(OXSelection, QueriesFollowHalfOpenRanges)
{
    auto selection = with({ { 0.25f, 0.75f } });
    EXPECT_FALSE(selection.isSelected(0.75f));
    EXPECT_TRUE(selection.isSelected(0.25f));
    EXPECT_EQ(selection.selectionFrom(0.3f, 0.5f), 1);
    EXPECT_EQ(selection.selectionFrom(0.5f, 0.9f), 2);
    EXPECT_EQ(selection.selectionFrom(0.75f, 1.0f), 0);
    EXPECT_EQ(selection.selectionFrom(0.0f, 0.25f), 0);
    EXPECT_EQ(selection.description(), "[0.250000,0.750000) ");
}

TEST(OXSelection, NormalizingSnapsOutwardAndNeverShrinks)
{
    auto selection = with({ { 0.12f, 0.3f } });
    selection.normalizeToGranularity(0.25f);
    EXPECT_EQ(selection.rangeArray(), ranges({ { 0.0f, 0.3f } }));

    // A start just past half-way between lines still goes to the earlier line.
    auto nearHalf = with({ { 0.37505f, 0.5f } });
    nearHalf.normalizeToGranularity(0.25f);
    EXPECT_EQ(nearHalf.rangeArray(), ranges({ { 0.25f, 0.5f } }));

    // In a bar of 5 cells of 0.3 the last cell is counted back from the end of the bar.
    auto lastCell = with({ { 0.9f, 0.95f } });
    lastCell.normalizeToGranularity(0.3f);
    ASSERT_EQ(lastCell.rangeArray().size(), 2u);
    EXPECT_NEAR(lastCell.rangeArray()[0], 0.9f, 1e-6);
    EXPECT_NEAR(lastCell.rangeArray()[1], 1.0f, 1e-6);

    // A nonsensical grid step changes nothing.
    auto same = with({ { 0.1f, 0.2f } });
    same.normalizeToGranularity(0.0f);
    EXPECT_EQ(same.rangeArray(), ranges({ { 0.1f, 0.2f } }));
}

TEST(OXSelection, AddSelectionAndArchiveRoundTrip)
{
    auto a = with({ { 0.1f, 0.2f } });
    auto b = with({ { 0.2f, 0.3f }, { 0.5f, 0.6f } });
    a.addSelection(b);
    EXPECT_EQ(a.rangeArray(), ranges({ { 0.1f, 0.3f }, { 0.5f, 0.6f } }));
    a.addSelection(a);
    EXPECT_EQ(a.rangeArray(), ranges({ { 0.1f, 0.3f }, { 0.5f, 0.6f } }));

    OXSelection::registerArchiveClasses();
    auto stored = std::make_shared<OXSelection>();
    stored->addSelection(a);
    auto bytes = rp::KeyedArchiver::archivedDataWithRootObject(stored);
    ASSERT_FALSE(bytes.empty());
    auto back = std::dynamic_pointer_cast<OXSelection>(rp::KeyedUnarchiver::unarchiveObjectWithData(bytes));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->rangeArray(), a.rangeArray());
}

} // namespace
