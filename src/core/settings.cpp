#include "core/settings.h"

namespace kelvara {

namespace {
constexpr char16_t kSection[] = u"CONFIG";
}

void LoadSettings(const ProfileFile& cfg, SettingsControls& controls) {
    controls.setServiceUrl(cfg.readString(kSection, u"YandexURL"));
    if (cfg.readInteger(kSection, u"HardMode", 0) != 0) {
        controls.chooseHardMethod();
    }
    // After the method, whose choice sets its default threshold.
    if (const auto v = cfg.value(kSection, u"Threshold")) {
        if (const std::optional<int> n = parseInteger(*v)) {
            controls.chooseThreshold(*n);
        }
    }
    controls.selectRegion(cfg.readInteger(kSection, u"Region", kDefaultRegion));
}

int settingsRegion(const ProfileFile& cfg) {
    return cfg.readInteger(kSection, u"Region", kDefaultRegion);
}

namespace {
// A decimal number in [0, max]; the default otherwise.
double readNumber(const ProfileFile& cfg, QStringView key, double def, double max) {
    bool ok = false;
    const double v = cfg.readString(kSection, key).trimmed().toDouble(&ok);
    return ok && v >= 0 && v <= max ? v : def;
}
}  // namespace

FetchSettings readFetchSettings(const ProfileFile& cfg) {
    FetchSettings s;
    const int threads = cfg.readInteger(kSection, u"Threads", s.threads);
    if (threads >= 1 && threads <= kMaxFetchThreads) {
        s.threads = threads;
    }
    s.maxRps = readNumber(cfg, u"MaxRps", 0, kMaxRpsLimit);
    s.pricePer1000 = readNumber(cfg, u"PricePer1000", 0, 1e9);
    s.confirmLargeFetch = cfg.readInteger(kSection, u"ConfirmAbove1000", 1) != 0;
    s.deferred = cfg.readInteger(kSection, u"Deferred", 0) == 1;
    const QString ops = cfg.readString(kSection, u"OperationsUrl").trimmed();
    if (ops.startsWith(u"http://") || ops.startsWith(u"https://")) {
        s.operationsUrl = ops;
    }
    return s;
}

void writeFetchThreads(ProfileFile& cfg, int threads) {
    cfg.writeString(kSection, u"Threads", QString::number(threads));
}

void SaveSettings(ProfileFile& cfg, const SettingsControls& controls) {
    cfg.writeString(kSection, u"YandexURL", controls.serviceUrl());
    cfg.writeString(kSection, u"HardMode",
                    controls.hardMethod() ? QStringLiteral("1") : QStringLiteral("0"));
    cfg.writeString(kSection, u"Threshold", QString::number(controls.threshold()));
    cfg.writeString(kSection, u"Region",
                    QString::number(controls.selectedRegion().value_or(kDefaultRegion)));
}

}  // namespace kelvara
