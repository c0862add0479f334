#include "editor/ORPInterfaceDefaults.h"

#include "editor/EditorTestSupport.h"

#include <gtest/gtest.h>
#include <set>

TEST(ORPInterfaceDefaults, RegisteredDefaultsNeverOverrideTheUsersChoice)
{
    rp::test::TempDefaults defaults;
    defaults.store().setInteger(4, "RPPatternsPerRow");
    ORPInterfaceDefaults::registerDefaults(defaults.store());
    EXPECT_EQ(defaults.store().integerForKey("RPPatternsPerRow"), 4);
    EXPECT_FALSE(defaults.store().boolForKey("RPSectionBeginsNewRow"));
    defaults.store().removeObjectForKey("RPPatternsPerRow");
    EXPECT_EQ(defaults.store().integerForKey("RPPatternsPerRow"), -1);
    EXPECT_FALSE(defaults.store().hasStoredValue("RPSectionBeginsNewRow"));
}

TEST(ORPInterfaceDefaults, PreferredFontFallsBackInOrderThenToTheSystemFontAt11)
{
    struct Case {
        std::set<std::string> installed;
        ORPFontChoice chosen;
    };
    for (const Case& c : std::vector<Case> {
             { { "Futura", "Arial" }, { "Futura", 14, false } },
             { { "Geneva", "Helvetica", "DejaVu Sans" }, { "Helvetica", 14, false } },
             { { "Geneva", "Liberation Sans" }, { "Geneva", 14, false } },
             { { "Liberation Sans", "DejaVu Sans" }, { "DejaVu Sans", 14, false } },
             { { "Liberation Sans" }, { "Liberation Sans", 14, false } },
             { { "Comic Sans" }, { "", 11, true } },
             { {}, { "", 11, true } },
         }) {
        const auto chosen
            = preferredFont("Futura", 14, [&](const std::string& family) { return c.installed.count(family) > 0; });
        EXPECT_EQ(chosen, c.chosen) << c.chosen.family;
    }
    // An empty name is no font.
    EXPECT_EQ(preferredFont("", 9, [](const std::string& family) { return family.empty(); }),
        (ORPFontChoice { "", 11, true }));
}
