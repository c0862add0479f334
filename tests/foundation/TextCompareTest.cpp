#include "foundation/TextCompare.h"

#include <gtest/gtest.h>
#include <random>

TEST(TextCompare, FoldsCaseAcrossUnicodeOrdersIgnoringCaseAndComparesInvalidUtf8Bytewise)
{
    // Sharp s folds to ss; composed and decomposed forms match; Greek sigma forms match.
    for (const auto& [a, b] : { std::pair { "Stra\xC3\x9F"
                                            "e",
                                    "STRASSE" },
             std::pair { "\xC3\x89t\xC3\xA9", "E\xCC\x81T\xC3\x89" },
             std::pair { "\xCE\xA3\xCE\x9F\xCE\xA3", "\xCF\x83\xCE\xBF\xCF\x82" } })
        EXPECT_TRUE(rp::equalIgnoringCase(a, b)) << a;
    EXPECT_FALSE(rp::equalIgnoringCase("Kick", "Kick "));
    EXPECT_EQ(rp::foldCase("Hi-Hat \xC3\x84"), "hi-hat \xC3\xA4");
    EXPECT_EQ(rp::compareIgnoringCase("\xC3\x84pfel", "\xC3\xA4PFEL"), 0);
    // Sorting with it is a strict weak order, by code point after folding.
    std::vector<std::string> names { "tom", "Kick", "snare", "HiHat", "kick", "\xC3\xA9t\xC3\xA9", "Clap" };
    std::stable_sort(
        names.begin(), names.end(), [](auto& a, auto& b) { return rp::compareIgnoringCase(a, b) < 0; });
    EXPECT_EQ(names,
        (std::vector<std::string> { "Clap", "HiHat", "Kick", "kick", "snare", "tom", "\xC3\xA9t\xC3\xA9" }));

    // Invalid UTF-8 is compared bytewise.
    const std::string bad = "Kick\xFF";
    EXPECT_FALSE(rp::foldCase(bad));
    EXPECT_TRUE(rp::equalIgnoringCase(bad, "kick\xFF"));
    EXPECT_FALSE(rp::equalIgnoringCase(bad, "Kick\xFE"));
    EXPECT_FALSE(rp::equalIgnoringCase("\xC3", "\xC3\xA4"));
    EXPECT_TRUE(rp::equalIgnoringCase(std::string("a\0b", 3), std::string("A\0B", 3)));
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        std::string a(random() % 12, '\0');
        for (char& c : a)
            c = char(random());
        std::string b = a;
        if (!b.empty() && i % 2)
            b[random() % b.size()] = char(random());
        EXPECT_EQ(rp::compareIgnoringCase(a, b), -rp::compareIgnoringCase(b, a));
        EXPECT_TRUE(rp::equalIgnoringCase(a, a));
    }
}
