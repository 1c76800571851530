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

// How the fetch asks the service, from the same section: Threads (1 to 50), MaxRps (requests per
// second, 0 = no limit), PricePer1000 (0 = not shown), ConfirmAbove1000 (0 silences the question
// before a large fetch), Deferred (1: deferred requests of the REST form) and OperationsUrl. A
// value out of range or not a number reads as the default.
struct FetchSettings {
    int threads = 1;
    double maxRps = 0;
    double pricePer1000 = 0;
    bool confirmLargeFetch = true;
    bool deferred = false;
    QString operationsUrl = QStringLiteral("https://operation.api.cloud.yandex.net");
};
inline constexpr int kMaxFetchThreads = 50;
inline constexpr double kMaxRpsLimit = 10'000;
FetchSettings readFetchSettings(const ProfileFile& cfg);
void writeFetchThreads(ProfileFile& cfg, int threads);

// settings.ini, section CONFIG: YandexURL, HardMode, Threshold, Region. A Threshold that is no
// integer or that the box does not offer leaves the method's default.
void LoadSettings(const ProfileFile& cfg, SettingsControls& controls);
// The region the settings name, whether the region list has it or not; 213 without one.
int settingsRegion(const ProfileFile& cfg);
// Writes the four keys; the caller flushes the file.
void SaveSettings(ProfileFile& cfg, const SettingsControls& controls);

}  // namespace kelvara
