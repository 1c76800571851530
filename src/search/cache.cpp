#include "search/cache.h"

#include <cmath>
#include <limits>

namespace kelvara {

Stamp parseStamp(QStringView field, const QLocale& locale) {
    // Plain integers, which is what we write, are read exactly.
    QStringView f = field.trimmed();
    if (f.isEmpty()) {
        return 0;
    }
    bool ok = false;
    const qlonglong exact = f.toLongLong(&ok, 10);
    if (ok) {
        return exact;
    }
    // Otherwise a decimal number: sign, digits, the locale's decimal separator, an exponent.
    const QString sep = locale.decimalPoint();
    QByteArray ascii;
    ascii.reserve(f.size());
    qsizetype i = 0;
    auto digits = [&]() {
        qsizetype n = 0;
        while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') {
            ascii += char(f[i].unicode());
            ++i;
            ++n;
        }
        return n;
    };
    if (i < f.size() && (f[i] == u'+' || f[i] == u'-')) {
        ascii += char(f[i].unicode());
        ++i;
    }
    qsizetype mantissa = digits();
    if (!sep.isEmpty() && f.mid(i).startsWith(sep)) {
        i += sep.size();
        ascii += '.';
        mantissa += digits();
    }
    if (mantissa == 0) {
        return 0;
    }
    if (i < f.size() && (f[i] == u'e' || f[i] == u'E')) {
        ascii += 'e';
        ++i;
        if (i < f.size() && (f[i] == u'+' || f[i] == u'-')) {
            ascii += char(f[i].unicode());
            ++i;
        }
        if (digits() == 0) {
            return 0;
        }
    }
    if (i != f.size() || ascii.size() > 400) {
        return 0;
    }
    const double v = std::strtod(ascii.constData(), nullptr);
    // 2^63 is the first double past the 64-bit range.
    if (!std::isfinite(v) || v >= 9223372036854775808.0 || v < -9223372036854775808.0) {
        return 0;
    }
    return Stamp(std::nearbyint(v));
}

namespace {

constexpr QStringView kRegionMark = u"#region ";

// Adds one line of the file to the store, when it is a fresh entry of a query the store lacks.
void loadCacheLine(ResultStore& store, QStringView line, Stamp now, const QLocale& locale) {
    {
        const qsizetype first = line.indexOf(u';');
        if (first < 0) {
            return;
        }
        const Stamp stamp = parseStamp(line.first(first), locale);
        if (olderThan(now, stamp, kFreshnessMs)) {
            return;
        }
        qsizetype from = first + 1;
        qsizetype next = line.indexOf(u';', from);
        const QStringView query = next < 0 ? line.mid(from) : line.mid(from, next - from);
        qsizetype at = 0;
        if (store.find(query, &at)) {
            return;  // the first line of a query wins; no need to read its URLs
        }
        auto entry = std::make_unique<TSerpEntry>(stamp);
        while (next >= 0) {
            from = next + 1;
            next = line.indexOf(u';', from);
            entry->Urls.add((next < 0 ? line.mid(from) : line.mid(from, next - from)).toString());
        }
        store.add(query.toString(), std::move(entry));
    }
}

}  // namespace

std::optional<int> cacheRegionMark(QStringView line) {
    if (!line.startsWith(kRegionMark)) {
        return std::nullopt;
    }
    const QStringView digits = line.mid(kRegionMark.size());
    bool ok = false;
    const int region = digits.toInt(&ok, 10);
    if (!ok || region < 0 || digits.startsWith(u'+') || digits.contains(u' ')) {
        return std::nullopt;
    }
    return region;
}

void loadCacheText(ResultStore& store, QStringView text, Stamp now, const QLocale& locale) {
    forEachLine(text, [&](QStringView line) { loadCacheLine(store, line, now, locale); });
}

void loadCacheText(ResultStores& stores, QStringView text, Stamp now, int legacyRegion,
                   const QLocale& locale) {
    ResultStore* store = &stores.of(legacyRegion);
    forEachLine(text, [&](QStringView line) {
        if (const std::optional<int> region = cacheRegionMark(line)) {
            store = &stores.of(*region);
        } else {
            loadCacheLine(*store, line, now, locale);
        }
    });
}

std::optional<FileError> LoadCache(ResultStores& stores, const QString& path, Stamp now,
                                   const AnsiCodec& codec, int legacyRegion,
                                   const QLocale& locale) {
    ReadResult r = readWholeFile(path);
    if (r.missing) {
        return std::nullopt;
    }
    if (r.error) {
        return r.error;
    }
    loadCacheText(stores, decodeTextFile(r.bytes, codec), now, legacyRegion, locale);
    return std::nullopt;
}

std::optional<FileError> LoadCache(ResultStore& store, const QString& path, Stamp now,
                                   const AnsiCodec& codec, const QLocale& locale) {
    ReadResult r = readWholeFile(path);
    if (r.missing) {
        return std::nullopt;
    }
    if (r.error) {
        return r.error;
    }
    loadCacheText(store, decodeTextFile(r.bytes, codec), now, locale);
    return std::nullopt;
}

namespace {
// A field holding the separator or a line break would come back as a different entry.
bool fitsFormat(QStringView field) {
    for (QChar c : field) {
        if (c == u';' || c == u'\r' || c == u'\n') {
            return false;
        }
    }
    return true;
}
}  // namespace

bool appendCacheLine(QString& text, QStringView query, const TSerpEntry& e) {
    bool ok = fitsFormat(query);
    for (const auto& u : e.Urls) {
        ok = ok && fitsFormat(u.text);
    }
    if (!ok) {
        return false;
    }
    text += QString::number(e.Stamp);
    text += u';';
    text += query;
    for (const auto& u : e.Urls) {
        text += u';';
        text += u.text;
    }
    text += u"\r\n";
    return true;
}

QString cacheText(const ResultStore& store, SaveCacheReport* report) {
    SaveCacheReport rep;
    QString text;
    qsizetype estimate = 0;
    for (const auto& line : store) {
        estimate += 20 + line.text.size();
        for (const auto& u : line.object->Urls) {
            estimate += 1 + u.text.size();
        }
    }
    text.reserve(estimate);
    for (const auto& line : store) {
        if (appendCacheLine(text, line.text, *line.object)) {
            ++rep.written;
        } else {
            ++rep.skipped;
        }
    }
    if (report) {
        *report = rep;
    }
    return text;
}

QString cacheText(const ResultStores& stores, SaveCacheReport* report) {
    SaveCacheReport all;
    QString text;
    for (const auto& [region, store] : stores) {
        if (store.empty()) {
            continue;
        }
        SaveCacheReport rep;
        text += kRegionMark;
        text += QString::number(region);
        text += u"\r\n";
        text += cacheText(store, &rep);
        all.written += rep.written;
        all.skipped += rep.skipped;
    }
    if (report) {
        *report = all;
    }
    return text;
}

std::optional<FileError> SaveCache(const ResultStores& stores, const QString& path,
                                   SaveCacheReport* report) {
    SaveCacheReport rep;
    const QString text = cacheText(stores, &rep);
    auto err = writeCacheText(path, text);
    if (report) {
        *report = rep;
    }
    return err;
}

std::optional<FileError> writeCacheText(const QString& path, QStringView text) {
    // UTF-8 whatever the locale: a file written under one code page and read under another
    // would come back as other queries, and every one of them would be paid for again.
    return writeUtf8Text(path, text);
}

std::optional<FileError> SaveCache(const ResultStore& store, const QString& path,
                                   SaveCacheReport* report) {
    SaveCacheReport rep;
    const QString text = cacheText(store, &rep);
    auto err = writeCacheText(path, text);
    if (report) {
        *report = rep;
    }
    return err;
}

}  // namespace kelvara
