#include "http/HeaderLines.h"

#include <gtest/gtest.h>

TEST(HeaderLines, LookupIgnoresCaseTrimsAndJoinsContinuations)
{
    THeaderLines h(1024);
    for (const QByteArray line : {"Content-Type:  text/xml \t", "X-Folded: one", " two ", "\tthree", "Empty:", "Odd : spaced"})
        h.AddLine(line);
    EXPECT_EQ(h.Value("content-type"), "text/xml");
    EXPECT_EQ(h.Value("X-FOLDED"), "one two three");
    EXPECT_TRUE(h.Has("empty"));
    EXPECT_EQ(h.Value("Empty"), "");
    EXPECT_FALSE(h.Has("Missing"));
    EXPECT_FALSE(h.Has("Odd"));  // the name is the text before the colon, blank included
    EXPECT_EQ(h.Value("Odd "), "spaced");
}

TEST(HeaderLines, SetValueReplacesInPlaceAndEmptyRemoves)
{
    THeaderLines h(1024);
    h.SetValue("A", "1");
    h.AddLine("B: 2");
    h.AddLine("  more");
    h.SetValue("C", "3");
    h.SetValue("b", "two");
    EXPECT_EQ(h.Lines(), (QList<QByteArray>{"A: 1", "b: two", "C: 3"}));
    h.SetValue("A", "");
    EXPECT_EQ(h.Lines(), (QList<QByteArray>{"b: two", "C: 3"}));
}

TEST(HeaderLines, LongValuesFoldOutsideQuotes)
{
    THeaderLines h(16);
    h.SetValue("X", "aaaa bbbb, \"cc dd ee ff\" gggg");
    EXPECT_EQ(h.Lines(), (QList<QByteArray>{"X: aaaa bbbb,", " \"cc dd ee ff\"", " gggg"}));
    EXPECT_EQ(h.Value("X"), "aaaa bbbb, \"cc dd ee ff\" gggg");

    THeaderLines unbreakable(20);
    unbreakable.SetValue("Authorization", "Basic " + QByteArray(40, 'Q'));
    EXPECT_EQ(unbreakable.Count(), 2);
    EXPECT_EQ(unbreakable.Lines().at(1), " " + QByteArray(40, 'Q'));
}
