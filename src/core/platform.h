#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <functional>

namespace kelvara {

// ---- Time ------------------------------------------------------------------------------------

// Milliseconds of local wall-clock time: (whole days since 1 January of year 1 of the proleptic
// Gregorian calendar + 1) * 86,400,000 + milliseconds since local midnight.
using Stamp = std::int64_t;
inline constexpr Stamp kMsPerDay = 86'400'000;
inline constexpr Stamp kFreshnessMs = 7 * kMsPerDay;  // 604,800,000

Stamp stampFromLocal(const QDate& date, std::int64_t msecsSinceMidnight);
Stamp stampFromDateTime(const QDateTime& localTime);
// The date and time of day a stamp stands for (inverse of stampFromLocal), for messages and
// tests; stamps outside the calendar's range give an invalid date.
QDateTime dateTimeFromStamp(Stamp stamp);

// The clock, passed wherever the current time is read, so that tests can set it.
using StampClock = std::function<Stamp()>;
StampClock systemClock();
// CurrentStamp of the system clock.
Stamp CurrentStamp();

// Age of an entry, exactly: now - stamp cannot overflow a 64-bit value when it is compared
// through this helper.
bool olderThan(Stamp now, Stamp stamp, Stamp limitMs);    // now - stamp > limit
bool youngerThan(Stamp now, Stamp stamp, Stamp limitMs);  // now - stamp < limit

// ---- Interface language ----------------------------------------------------------------------

enum class UiLanguage { English, Russian };

// Russian exactly for Russian as used in Russia (Windows language id 1049); any other language
// or territory gives English.
UiLanguage uiLanguageForLanguageId(unsigned languageId);
// On Linux from the locale name: "ru_RU..." or "ru" with no territory.
UiLanguage uiLanguageForLocaleName(const QString& localeName);
UiLanguage systemUiLanguage();

// ---- ANSI code page --------------------------------------------------------------------------

// The legacy single- or double-byte code page as Windows derives it from the language, by name
// for QStringEncoder/QStringDecoder ("windows-1251", "windows-1252", ...).
QByteArray ansiCodePageForLocale(const QLocale& locale);
QByteArray systemAnsiCodePage();

// ---- The program itself ----------------------------------------------------------------------

// The directory of the program file, with a trailing "/".
QString executableDir();

struct VersionNumbers {
    unsigned major = 0, minor = 0, release = 0, build = 0;
};
VersionNumbers programVersion();
// "major.minor" when shortForm, else "major.minor.release.build".
QString GetVersionText(bool shortForm, const VersionNumbers& v = programVersion());

// Everything the program takes from the system, gathered once at start-up and passed down.
struct PlatformFacts {
    QString executableDir;
    UiLanguage language = UiLanguage::English;
    QByteArray codePage = "windows-1252";
    StampClock clock = systemClock();
    static PlatformFacts system();
};

}  // namespace kelvara
