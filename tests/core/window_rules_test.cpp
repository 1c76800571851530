#include "core/window_rules.h"

#include <gtest/gtest.h>

using namespace kelvara;

TEST(WindowRules, QueryLinesAsTheEditCountsThem) {
    const std::pair<const char16_t*, int> cases[] = {
        {u"", 0},     {u"a", 1},      {u"a\r\nb\r\n", 2}, {u"a\r\n\r\nb", 2},          {u"\r\n", 0},
        {u"a\nb", 2}, {u"a\rb\r", 2}, {u" \r\n ", 0},     {u"\t\r\n a \r\n\u3000", 1},
    };
    for (const auto& [text, n] : cases) {
        EXPECT_EQ(queryLineCount(QString::fromUtf16(text)), n)
            << QString::fromUtf16(text).toStdString();
    }
    // Blank lines are no queries; the others stay as they are.
    EXPECT_EQ(queryLines(u"a \r\n\r\n  \r\n b"_qs), (QStringList{u"a "_qs, u" b"_qs}));
    EXPECT_FALSE(clusterButtonEnabled(QString(), 1));
    EXPECT_FALSE(clusterButtonEnabled(u"http://x/?"_qs, 0));
    EXPECT_TRUE(clusterButtonEnabled(u"http://x/?"_qs, 1));
}

TEST(WindowRules, PaneSizing) {
    EXPECT_EQ(leftPaneWidth(885, -1.0), 442);  // odd: the left pane a pixel narrower
    EXPECT_EQ(leftPaneWidth(884, -1.0), 442);
    const double third = manualShare(300, 900);
    for (int w : {900, 1200, 601, 333}) {
        EXPECT_EQ(leftPaneWidth(w, third), int(std::nearbyint(w / 3.0))) << w;
    }
    EXPECT_EQ(leftPaneWidth(5, 0.5), 2);  // 2.5: half to even
    EXPECT_EQ(leftPaneWidth(7, 0.5), 4);  // 3.5
    EXPECT_EQ(firstColumnWidth(400, 19 + 50 + 60), 241);
}
