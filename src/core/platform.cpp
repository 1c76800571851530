#include "core/platform.h"

#include "kelvara_version.h"

#include <QCoreApplication>
#include <QDir>
#include <QTime>
#include <mutex>

#ifdef Q_OS_WIN
#include "core/windows_api.h"

#include <vector>
#endif

namespace kelvara {

Stamp stampFromLocal(const QDate& date, std::int64_t msecsSinceMidnight) {
    // QDate's Julian day of 1 January of year 1 (proleptic Gregorian).
    static const qint64 kYearOne = QDate(1, 1, 1).toJulianDay();
    const qint64 days = date.toJulianDay() - kYearOne;
    return (days + 1) * kMsPerDay + msecsSinceMidnight;
}

Stamp stampFromDateTime(const QDateTime& localTime) {
    const QDateTime t = localTime.toLocalTime();
    return stampFromLocal(t.date(), t.time().msecsSinceStartOfDay());
}

QDateTime dateTimeFromStamp(Stamp stamp) {
    static const qint64 kYearOne = QDate(1, 1, 1).toJulianDay();
    qint64 days = stamp / kMsPerDay;
    qint64 ms = stamp % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --days;
    }
    const QDate date = QDate::fromJulianDay(kYearOne + days - 1);
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

namespace {

// Local time goes through the C library's time-zone state, which mktime() resets under a lock of
// its own that thread checkers cannot see; the fetch's slots read the clock at once, so one lock
// of ours keeps them in order.
std::mutex localTimeMutex;

Stamp stampNow() {
    const std::lock_guard lock(localTimeMutex);
    return stampFromDateTime(QDateTime::currentDateTime());
}

}  // namespace

StampClock systemClock() {
    return [] { return stampNow(); };
}

Stamp CurrentStamp() {
    return stampNow();
}

bool olderThan(Stamp now, Stamp stamp, Stamp limitMs) {
    return static_cast<__int128>(now) - stamp > limitMs;
}

bool youngerThan(Stamp now, Stamp stamp, Stamp limitMs) {
    return static_cast<__int128>(now) - stamp < limitMs;
}

UiLanguage uiLanguageForLanguageId(unsigned languageId) {
    return languageId == 1049 ? UiLanguage::Russian : UiLanguage::English;
}

UiLanguage uiLanguageForLocaleName(const QString& localeName) {
    // "ru_RU.UTF-8", "ru_RU@euro", "ru-RU" or a bare "ru"; "ru_UA", "ru_MD" are not Russia.
    QString name = localeName;
    for (QChar stop : {QLatin1Char('.'), QLatin1Char('@')}) {
        const qsizetype at = name.indexOf(stop);
        if (at >= 0) {
            name.truncate(at);
        }
    }
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    return (name == QLatin1String("ru") || name == QLatin1String("ru_RU")) ? UiLanguage::Russian
                                                                           : UiLanguage::English;
}

UiLanguage systemUiLanguage() {
#ifdef Q_OS_WIN
    return uiLanguageForLanguageId(GetUserDefaultUILanguage());
#else
    // The same variables, in the same order of precedence, as the C library's message locale.
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(var);
        if (!value.isEmpty()) {
            return uiLanguageForLocaleName(value);
        }
    }
    return UiLanguage::English;
#endif
}

QByteArray ansiCodePageForLocale(const QLocale& locale) {
    switch (locale.language()) {
        case QLocale::Russian:
        case QLocale::Ukrainian:
        case QLocale::Belarusian:
        case QLocale::Bulgarian:
        case QLocale::Macedonian:
        case QLocale::Kazakh:
        case QLocale::Kyrgyz:
        case QLocale::Tatar:
        case QLocale::Mongolian:
        case QLocale::Bashkir:
        case QLocale::Sakha:
            return "windows-1251";
        case QLocale::Serbian:
        case QLocale::Bosnian:
            return locale.script() == QLocale::LatinScript ? "windows-1250" : "windows-1251";
        case QLocale::Uzbek:
        case QLocale::Azerbaijani:
            return locale.script() == QLocale::CyrillicScript ? "windows-1251" : "windows-1254";
        case QLocale::Czech:
        case QLocale::Polish:
        case QLocale::Hungarian:
        case QLocale::Slovak:
        case QLocale::Slovenian:
        case QLocale::Croatian:
        case QLocale::Romanian:
        case QLocale::Albanian:
        case QLocale::LowerSorbian:
        case QLocale::UpperSorbian:
            return "windows-1250";
        case QLocale::Greek:
            return "windows-1253";
        case QLocale::Turkish:
            return "windows-1254";
        case QLocale::Hebrew:
        case QLocale::Yiddish:
            return "windows-1255";
        case QLocale::Arabic:
        case QLocale::Persian:
        case QLocale::Urdu:
            return "windows-1256";
        case QLocale::Estonian:
        case QLocale::Latvian:
        case QLocale::Lithuanian:
            return "windows-1257";
        case QLocale::Vietnamese:
            return "windows-1258";
        case QLocale::Thai:
            return "windows-874";
        case QLocale::Japanese:
            return "Shift_JIS";
        case QLocale::Korean:
            return "windows-949";
        case QLocale::Chinese:
            return (locale.territory() == QLocale::Taiwan ||
                    locale.territory() == QLocale::HongKong || locale.territory() == QLocale::Macao)
                       ? "Big5"
                       : "GBK";
        default:
            return "windows-1252";
    }
}

QByteArray systemAnsiCodePage() {
#ifdef Q_OS_WIN
    // The system's own, by the names the converters take.
    switch (const UINT cp = GetACP()) {
        case 932:
            return "Shift_JIS";
        case 936:
            return "GBK";
        case 950:
            return "Big5";
        case 65001:
            return "UTF-8";
        default:
            return "windows-" + QByteArray::number(uint(cp));
    }
#else
    return ansiCodePageForLocale(QLocale::system());
#endif
}

#ifdef Q_OS_WIN
namespace {

QString modulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            return QString::fromWCharArray(buffer.data(), int(n));
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace
#endif

QString executableDir() {
#ifdef Q_OS_WIN
    const QString path = QDir::fromNativeSeparators(modulePath());
    QString dir = path.isEmpty() ? QDir::currentPath() : path.left(path.lastIndexOf(u'/'));
#else
    QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
#endif
    if (!dir.endsWith(QLatin1Char('/'))) {
        dir += QLatin1Char('/');
    }
    return dir;
}

VersionNumbers programVersion() {
#ifdef Q_OS_WIN
    // The executable's own version resource; a program built without one (a test program)
    // reports the version it was built as.
    const std::wstring path = modulePath().toStdWString();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size > 0) {
        std::vector<char> data(size);
        VS_FIXEDFILEINFO* info = nullptr;
        UINT infoSize = 0;
        if (GetFileVersionInfoW(path.c_str(), 0, size, data.data()) &&
            VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) &&
            info && infoSize >= sizeof(VS_FIXEDFILEINFO)) {
            return {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                    HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
        }
    }
#endif
    return {KELVARA_VERSION_MAJOR, KELVARA_VERSION_MINOR, KELVARA_VERSION_RELEASE,
            KELVARA_VERSION_BUILD};
}

QString GetVersionText(bool shortForm, const VersionNumbers& v) {
    if (shortForm) {
        return QStringLiteral("%1.%2").arg(v.major).arg(v.minor);
    }
    return QStringLiteral("%1.%2.%3.%4").arg(v.major).arg(v.minor).arg(v.release).arg(v.build);
}

PlatformFacts PlatformFacts::system() {
    PlatformFacts f;
    f.executableDir = kelvara::executableDir();
    f.language = systemUiLanguage();
    f.codePage = systemAnsiCodePage();
    f.clock = systemClock();
    return f;
}

}  // namespace kelvara
