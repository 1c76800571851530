#include "core/settings.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kelvara;

namespace {

// The controls of the main window, as plain fields.
struct FakeControls : SettingsControls {
    QString url;
    bool hard = false;
    int chosenThreshold = 3;
    std::vector<int> regionCodes;
    std::optional<int> selected;

    QString serviceUrl() const override { return url; }
    void setServiceUrl(const QString& u) override { url = u; }
    bool hardMethod() const override { return hard; }
    void chooseHardMethod() override {
        hard = true;
        chosenThreshold = 4;
    }
    int threshold() const override { return chosenThreshold; }
    bool chooseThreshold(int value) override {
        if (value < 1 || value > 10) {
            return false;
        }
        chosenThreshold = value;
        return true;
    }
    bool selectRegion(int code) override {
        for (size_t i = 0; i < regionCodes.size(); ++i) {
            if (regionCodes[i] == code) {
                selected = int(i);
                return true;
            }
        }
        selected.reset();
        return false;
    }
    std::optional<int> selectedRegion() const override {
        return selected ? std::optional<int>(regionCodes[size_t(*selected)]) : std::nullopt;
    }
};

ProfileFile profile(const QString& text) {
    ProfileFile p(u"unused"_qs, AnsiCodec());
    p.loadText(text);
    return p;
}

}  // namespace

TEST(Settings, DefaultsWithoutAFile) {
    FakeControls c;
    c.regionCodes = {225, 213, 2};
    LoadSettings(profile({}), c);
    EXPECT_EQ(c.url, QString());
    EXPECT_FALSE(c.hard);
    EXPECT_EQ(c.threshold(), 3);
    EXPECT_EQ(c.selected, 1);
}

TEST(Settings, ValuesAreRestored) {
    struct Case {
        QString text;
        bool hard;
        int threshold;
        std::optional<int> selected;
    };
    const Case cases[] = {
        {u"[CONFIG]\nHardMode=1\nRegion=225\nYandexURL=http://s/?u=1"_qs, true, 4, 0},
        {u"[CONFIG]\nHardMode=0\nRegion=2"_qs, false, 3, 2},
        {u"[CONFIG]\nHardMode=yes\nRegion=abc"_qs, false, 3, 1},  // not integers: defaults
        {u"[CONFIG]\nHardMode=7\nRegion=999"_qs, true, 4, std::nullopt},
        // The threshold kept, over the method's default; one out of range or no number leaves
        // the default.
        {u"[CONFIG]\nHardMode=1\nThreshold=7"_qs, true, 7, 1},
        {u"[CONFIG]\nThreshold=1"_qs, false, 1, 1},
        {u"[CONFIG]\nThreshold=10"_qs, false, 10, 1},
        {u"[CONFIG]\nHardMode=1\nThreshold=11"_qs, true, 4, 1},
        {u"[CONFIG]\nThreshold=0"_qs, false, 3, 1},
        {u"[CONFIG]\nThreshold=-5"_qs, false, 3, 1},
        {u"[CONFIG]\nThreshold=five"_qs, false, 3, 1},
        {u"[CONFIG]\nHardMode=1\nThreshold="_qs, true, 4, 1},
    };
    for (const Case& k : cases) {
        FakeControls c;
        c.regionCodes = {225, 213, 2};
        LoadSettings(profile(k.text), c);
        EXPECT_EQ(c.hard, k.hard) << k.text.toStdString();
        EXPECT_EQ(c.threshold(), k.threshold) << k.text.toStdString();
        EXPECT_EQ(c.selected, k.selected) << k.text.toStdString();
    }
}

TEST(Settings, SavedAsWrittenWith213WhenNoRegionIsSelected) {
    FakeControls c;
    c.url = u" http://s/?key=1 "_qs;
    c.hard = true;
    c.chosenThreshold = 6;
    ProfileFile p = profile({});
    SaveSettings(p, c);
    EXPECT_EQ(p.lines(), (QStringList{u"[CONFIG]"_qs, u"YandexURL= http://s/?key=1 "_qs,
                                      u"HardMode=1"_qs, u"Threshold=6"_qs, u"Region=213"_qs}));
}

// The fetch's keys: a value out of range or not a number reads as the default.
TEST(Settings, FetchKeysReadWithDefaultsForBadValues) {
    struct Case {
        QString text;
        int threads;
        double maxRps;
        double price;
        bool confirm;
        bool deferred;
    };
    const Case cases[] = {
        {{}, 1, 0, 0, true, false},
        {u"[CONFIG]\nThreads=8\nMaxRps=12.5\nPricePer1000=4\nConfirmAbove1000=0\nDeferred=1"_qs, 8,
         12.5, 4, false, true},
        {u"[CONFIG]\nThreads=50\nMaxRps=0"_qs, 50, 0, 0, true, false},
        {u"[CONFIG]\nThreads=0\nMaxRps=-3\nPricePer1000=x\nDeferred=yes"_qs, 1, 0, 0, true, false},
        {u"[CONFIG]\nThreads=51\nMaxRps=nan\nDeferred=2"_qs, 1, 0, 0, true, false},
        {u"[CONFIG]\nThreads=four\nMaxRps=1e9"_qs, 1, 0, 0, true, false},
    };
    for (const Case& k : cases) {
        const FetchSettings s = readFetchSettings(profile(k.text));
        EXPECT_EQ(s.threads, k.threads) << k.text.toStdString();
        EXPECT_EQ(s.maxRps, k.maxRps) << k.text.toStdString();
        EXPECT_EQ(s.pricePer1000, k.price) << k.text.toStdString();
        EXPECT_EQ(s.confirmLargeFetch, k.confirm) << k.text.toStdString();
        EXPECT_EQ(s.deferred, k.deferred) << k.text.toStdString();
    }
}
