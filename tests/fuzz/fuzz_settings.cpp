// settings.ini, a file users edit by hand.
//
// Properties: the settings read are what readString/readInteger give; an integer is read as the
// number it spells; a kept threshold the box offers is restored, any other leaves the method's
// default; writing the four keys and reading them back gives the written values and leaves every
// other key of the file as it was; the written lines load again as the same lines.

#include "fuzz_common.h"

#include "core/profile_file.h"
#include "core/settings.h"

#include <vector>

using namespace kelvara;

namespace {

constexpr char16_t kSection[] = u"CONFIG";

struct Controls final : SettingsControls {
    QString url;
    bool hard = false;
    int chosenThreshold = 3;
    std::optional<int> region;

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
        // Like the region box of the main window: only codes of the list are selectable.
        region = code > 0 && code % 3 != 0 ? std::optional<int>(code) : std::nullopt;
        return region.has_value();
    }
    std::optional<int> selectedRegion() const override { return region; }
};

struct Key {
    QString section;
    QString key;
};

// Every (section, key) pair the file spells, as ProfileFile would look it up.
std::vector<Key> keysOf(const QStringList& lines) {
    std::vector<Key> keys;
    QString section;
    bool inSection = false;
    for (const QString& line : lines) {
        const QStringView t = QStringView(line).trimmed();
        if (t.startsWith(u'[') && t.indexOf(u']') > 0) {
            section = t.sliced(1, t.indexOf(u']') - 1).trimmed().toString();
            inSection = true;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (inSection && eq >= 0 && !t.startsWith(u';')) {
            keys.push_back({section, QStringView(line).first(eq).trimmed().toString()});
        }
    }
    return keys;
}

bool isWrittenKey(const Key& k) {
    if (k.section.compare(kSection, Qt::CaseInsensitive) != 0) {
        return false;
    }
    for (const char16_t* name : {u"YandexURL", u"HardMode", u"Threshold", u"Region"}) {
        if (k.key.compare(QStringView(name), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

QByteArray describe(const QStringList& lines) {
    QByteArray out;
    for (const QString& l : lines) {
        out += fuzz::shown(l) + '\n';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString text = decodeTextFile(fuzz::bytesOf(data, size), fuzz::cp1251());
    ProfileFile cfg(u"settings.ini"_qs, fuzz::cp1251());
    cfg.loadText(text);

    Controls controls;
    LoadSettings(cfg, controls);
    FUZZ_CHECK(controls.url == cfg.readString(kSection, u"YandexURL"), fuzz::shown(controls.url));
    const std::optional<QString> hardText = cfg.value(kSection, u"HardMode");
    const int hard = hardText ? parseInteger(*hardText).value_or(0) : 0;
    FUZZ_CHECK(controls.hard == (hard != 0), describe(cfg.lines()));
    // The threshold kept when it is one the box offers, else the method's default.
    const std::optional<QString> thresholdText = cfg.value(kSection, u"Threshold");
    const std::optional<int> kept = thresholdText ? parseInteger(*thresholdText) : std::nullopt;
    FUZZ_CHECK(controls.threshold() == (kept && *kept >= 1 && *kept <= 10 ? *kept
                                        : hard != 0                       ? 4
                                                                          : 3),
               describe(cfg.lines()));

    // A number read is the number spelled: decimal text of it reads the same.
    for (const char16_t* key : {u"HardMode", u"Threshold", u"Region"}) {
        if (const std::optional<QString> v = cfg.value(kSection, key)) {
            if (const std::optional<int> n = parseInteger(*v)) {
                FUZZ_CHECK(cfg.readInteger(kSection, key, 17) == *n, fuzz::shown(*v));
                FUZZ_CHECK(parseInteger(QString::number(*n)) == *n, fuzz::shown(*v));
            } else {
                FUZZ_CHECK(cfg.readInteger(kSection, key, 17) == 17, fuzz::shown(*v));
            }
        }
    }

    // What the user changed in the window, taken from the file's own text so that it varies:
    // one line, no blanks around it and no enclosing quotes (the profile format trims those).
    QString url = text.left(200);
    url.replace(u'\r', u' ').replace(u'\n', u' ');
    url = url.trimmed();
    while (url.size() >= 2 && (url.front() == u'"' || url.front() == u'\'') &&
           url.back() == url.front()) {
        url.chop(1);
        url = url.trimmed();
    }
    controls.url = url;
    controls.hard = !controls.hard;
    controls.chosenThreshold = int(size % 10) + 1;
    controls.region = size % 5 == 0 ? std::nullopt : std::optional<int>(int(size % 100'000) + 1);

    const QStringList before = cfg.lines();
    const std::vector<Key> otherKeys = keysOf(before);
    std::vector<std::optional<QString>> otherValues;
    for (const Key& k : otherKeys) {
        otherValues.push_back(cfg.value(k.section, k.key));
    }

    SaveSettings(cfg, controls);
    FUZZ_CHECK(cfg.readString(kSection, u"YandexURL") == url,
               fuzz::shown(url) + " read back as " +
                   fuzz::shown(cfg.readString(kSection, u"YandexURL")) + "\n" +
                   describe(cfg.lines()));
    FUZZ_CHECK(cfg.readInteger(kSection, u"HardMode", -1) == (controls.hard ? 1 : 0),
               describe(cfg.lines()));
    FUZZ_CHECK(cfg.readInteger(kSection, u"Region", -1) == controls.region.value_or(kDefaultRegion),
               describe(cfg.lines()));
    FUZZ_CHECK(cfg.readInteger(kSection, u"Threshold", -1) == controls.chosenThreshold,
               describe(cfg.lines()));
    for (size_t i = 0; i < otherKeys.size(); ++i) {
        if (!isWrittenKey(otherKeys[i])) {
            FUZZ_CHECK(cfg.value(otherKeys[i].section, otherKeys[i].key) == otherValues[i],
                       fuzz::shown(otherKeys[i].section) + "/" + fuzz::shown(otherKeys[i].key) +
                           "\n" + describe(before) + "--- after writing:\n" +
                           describe(cfg.lines()));
        }
    }
    FUZZ_CHECK(cfg.lines().size() <= before.size() + 5, describe(cfg.lines()));

    // The file as flush() writes it (each line and CR LF) loads as the same lines and settings.
    QString written;
    for (const QString& l : cfg.lines()) {
        written += l;
        written += u"\r\n";
    }
    ProfileFile reread(u"settings.ini"_qs, fuzz::cp1251());
    reread.loadText(written);
    FUZZ_CHECK(reread.lines() == cfg.lines(), describe(reread.lines()));
    Controls loaded;
    LoadSettings(reread, loaded);
    FUZZ_CHECK(loaded.url == url && loaded.hard == controls.hard &&
                   loaded.threshold() == controls.chosenThreshold,
               fuzz::shown(loaded.url));
    return 0;
}
