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

void SaveSettings(ProfileFile& cfg, const SettingsControls& controls) {
    cfg.writeString(kSection, u"YandexURL", controls.serviceUrl());
    cfg.writeString(kSection, u"HardMode",
                    controls.hardMethod() ? QStringLiteral("1") : QStringLiteral("0"));
    cfg.writeString(kSection, u"Threshold", QString::number(controls.threshold()));
    cfg.writeString(kSection, u"Region",
                    QString::number(controls.selectedRegion().value_or(kDefaultRegion)));
}

}  // namespace kelvara
