#pragma once

#include "core/profile_file.h"

#include <optional>

namespace kelvara {

inline constexpr int kDefaultRegion = 213;

// What the settings are read into and written from: the main window implements it with its
// controls, tests with plain fields.
class SettingsControls {
public:
    virtual ~SettingsControls() = default;
    virtual QString serviceUrl() const = 0;
    virtual void setServiceUrl(const QString& url) = 0;
    virtual bool hardMethod() const = 0;
    // Choosing the hard method has the effect of the user's click on it (threshold "4").
    virtual void chooseHardMethod() = 0;
    // The threshold the user picked; choosing one that the threshold box does not offer gives
    // false and changes nothing.
    virtual int threshold() const = 0;
    virtual bool chooseThreshold(int value) = 0;
    // Selects the first region item with that code; false (and no selection) when there is none.
    virtual bool selectRegion(int code) = 0;
    virtual std::optional<int> selectedRegion() const = 0;
};

// settings.ini, section CONFIG: YandexURL, HardMode, Threshold, Region. A Threshold that is no
// integer or that the box does not offer leaves the method's default.
void LoadSettings(const ProfileFile& cfg, SettingsControls& controls);
// The region the settings name, whether the region list has it or not; 213 without one.
int settingsRegion(const ProfileFile& cfg);
// Writes the four keys; the caller flushes the file.
void SaveSettings(ProfileFile& cfg, const SettingsControls& controls);

}  // namespace kelvara
