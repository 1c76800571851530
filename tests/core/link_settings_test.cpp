#include "core/link_settings.h"

#include <gtest/gtest.h>

using namespace kelvara;

TEST(LinkSettings, MatchByReadsHostOnlyWhenSaidAndIsWrittenOnlyWhenUsed) {
    struct Case {
        const char16_t* text;
        bool byHost;
    };
    const Case cases[] = {
        {u"", false},
        {u"[CONFIG]\r\nYandexURL=x\r\n", false},
        {u"[CONFIG]\r\nMatchBy=host\r\n", true},
        {u"[config]\r\nmatchby= HOST \r\n", true},
        {u"[CONFIG]\r\nMatchBy=url\r\n", false},
        {u"[CONFIG]\r\nMatchBy=domain\r\n", false},
        {u"[OTHER]\r\nMatchBy=host\r\n", false},
    };
    for (const Case& c : cases) {
        ProfileFile cfg(u"unused.ini"_qs, AnsiCodec());
        cfg.loadText(QString::fromUtf16(c.text));
        EXPECT_EQ(settingsMatchByHost(cfg), c.byHost) << QString::fromUtf16(c.text).toStdString();
    }

    // A user who never chose leaves the file without the key.
    ProfileFile cfg(u"unused.ini"_qs, AnsiCodec());
    cfg.loadText(u"[CONFIG]\r\nRegion=2\r\n");
    const QStringList before = cfg.lines();
    saveMatchBy(cfg, false);
    EXPECT_EQ(cfg.lines(), before);
    saveMatchBy(cfg, true);
    EXPECT_TRUE(settingsMatchByHost(cfg));
    saveMatchBy(cfg, false);  // once there, the key follows the choice
    EXPECT_EQ(cfg.readString(u"CONFIG", u"MatchBy"), u"url"_qs);
}
