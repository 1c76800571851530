#include "clustering/link_rules.h"

#include "clustering/punycode.h"

#include <QHash>

#include <algorithm>
#include <thread>

namespace kelvara {

namespace {

constexpr qsizetype kMaxHostLine = 2048;
constexpr qsizetype kMaxHostLength = 253;
constexpr qsizetype kMaxLabelLength = 63;
constexpr qsizetype kShownLength = 60;

constexpr std::uint64_t kTailSeed = 1469598103934665603ULL;

std::uint64_t tailStep(std::uint64_t h, char16_t c) {
    return (h ^ c) * 1099511628211ULL;
}

// FNV-1a over the text from its last character to its first.
std::uint64_t tailHash(QStringView text) {
    std::uint64_t h = kTailSeed;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        h = tailStep(h, text[i].unicode());
    }
    return h;
}

// The host part of a URL, still as written: after the "//" that follows the scheme (from the
// start when the first "/" is not doubled) up to "/", "?" or "#", without user name and port.
QStringView hostPart(QStringView url) {
    const qsizetype n = url.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = url[i].unicode();
        if (c == u'/') {
            start = i + 1 < n && url[i + 1] == u'/' ? i + 2 : 0;
            break;
        }
        if (c == u'?' || c == u'#') {
            break;
        }
    }
    qsizetype end = start;
    qsizetype at = -1;
    qsizetype colon = -1;
    for (; end < n; ++end) {
        const char16_t c = url[end].unicode();
        if (c == u'/' || c == u'?' || c == u'#') {
            break;
        }
        if (c == u'@') {
            at = end;
        } else if (c == u':') {
            colon = end;
        }
    }
    QStringView host = url.mid(start, end - start);
    if (at >= 0) {
        host = host.mid(at + 1 - start);
        colon = colon > at ? colon - (at + 1 - start) : -1;
    }
    if (host.startsWith(u'[')) {
        if (const qsizetype close = host.indexOf(u']'); close >= 0) {
            host = host.first(close + 1);
        }
    } else if (colon >= 0) {
        host = host.first(colon - start);
    }
    while (host.endsWith(u'.')) {
        host.chop(1);
    }
    return host;
}

// Most hosts are written as their key already: lower-case ASCII without a Punycode label or a
// leading "www.".
bool isPlainKey(QStringView host) {
    const qsizetype n = host.size();
    const char16_t* h = host.utf16();
    bool labelStart = true;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = h[i];
        if (c >= 128 || (c >= u'A' && c <= u'Z')) {
            return false;
        }
        if (labelStart && c == u'x' && i + 3 < n && h[i + 1] == u'n' && h[i + 2] == u'-' &&
            h[i + 3] == u'-') {
            return false;
        }
        labelStart = c == u'.';
    }
    return !(n >= 4 && h[0] == u'w' && h[1] == u'w' && h[2] == u'w' && h[3] == u'.');
}

QString slowKey(QStringView host) {
    QString key = host.toString().toLower();
    if (key.contains(u"xn--")) {
        key = PunycodeToUnicode(key).toLower();
    }
    while (key.endsWith(u'.')) {
        key.chop(1);
    }
    if (key.startsWith(u"www.") && key.size() > 4) {
        key.remove(0, 4);
    }
    return key;
}

// The key of a host that is written as its key but for a leading "www." (common in results):
// the rest of it.
bool isPlainBehindWww(QStringView host) {
    return host.size() > 4 && host.startsWith(u"www.") && isPlainKey(host.mid(4));
}

// Calls f with the host key of a URL, without making a string when the URL holds it already.
template <class F>
auto withUrlKey(QStringView url, F&& f) {
    const QStringView host = hostPart(url);
    if (isPlainKey(host)) {
        return f(host);
    }
    if (isPlainBehindWww(host)) {
        return f(host.mid(4));
    }
    const QString key = slowKey(host);
    return f(QStringView(key));
}

bool validKey(QStringView key) {
    if (key.isEmpty() || key.size() > kMaxHostLength) {
        return false;
    }
    qsizetype label = 0;
    for (const QChar ch : key) {
        if (ch == u'.') {
            if (label == 0) {
                return false;
            }
            label = 0;
            continue;
        }
        if (!ch.isLetterOrNumber() && ch != u'-' && ch != u'_') {
            return false;
        }
        if (++label > kMaxLabelLength) {
            return false;
        }
    }
    return label > 0;
}

QString shown(QStringView line) {
    return line.size() > kShownLength ? line.first(kShownLength).toString() + u"…"_qs
                                      : line.toString();
}

bool isSpace(QChar c) {
    return c.isSpace() || c == QChar(0xFEFF);
}

QStringView trimmed(QStringView s) {
    while (!s.isEmpty() && isSpace(s.front())) {
        s = s.mid(1);
    }
    while (!s.isEmpty() && isSpace(s.back())) {
        s.chop(1);
    }
    return s;
}

}  // namespace

QString hostKey(QStringView host) {
    while (host.endsWith(u'.')) {
        host.chop(1);
    }
    return isPlainKey(host) ? host.toString() : slowKey(host);
}

QStringView urlHostKeyView(QStringView url, QString& scratch) {
    const QStringView host = hostPart(url);
    if (isPlainKey(host)) {
        return host;
    }
    if (isPlainBehindWww(host)) {
        return host.mid(4);
    }
    scratch = slowKey(host);
    return scratch;
}

QString urlHostKey(QStringView url) {
    return withUrlKey(url, [](QStringView key) { return key.toString(); });
}

HostList HostList::parse(QStringView text, std::vector<HostListProblem>* problems,
                         qsizetype* problemCount, qsizetype keepProblems) {
    HostList list;
    qsizetype lineNo = 0;
    qsizetype bad = 0;
    auto problem = [&](HostListProblem::Kind kind, QStringView line) {
        if (problems && qsizetype(problems->size()) < keepProblems) {
            problems->push_back({lineNo, kind, shown(line)});
        }
        ++bad;
    };
    forEachLine(text, [&](QStringView raw) {
        ++lineNo;
        QStringView line = raw;
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0) {
            line = line.first(hash);
        }
        line = trimmed(line);
        if (line.isEmpty()) {
            return;
        }
        if (line.size() > kMaxHostLine) {
            problem(HostListProblem::TooLong, line);
            return;
        }
        if (std::any_of(line.begin(), line.end(), isSpace)) {
            problem(HostListProblem::NotAHost, line);
            return;
        }
        const bool below = line.startsWith(u"*.");
        const QString key = hostKey(hostPart(below ? line.mid(2) : line));
        if (!validKey(key)) {
            problem(HostListProblem::NotAHost, line);
            return;
        }
        (below ? list.below_ : list.exact_).insert(key);
    });
    if (problemCount) {
        *problemCount = bad;
    }
    list.exactFilter_.build(list.exact_);
    list.belowFilter_.build(list.below_);
    return list;
}

void HostList::Filter::build(const HostSet& keys) {
    bits.clear();
    if (keys.empty()) {
        return;
    }
    size_t size = 4096;
    while (size < keys.size() * 16 && size < (size_t(1) << 30)) {
        size *= 2;
    }
    bits.assign(size / 64, 0);
    for (const QString& key : keys) {
        const std::uint64_t bit = tailHash(key) & (size - 1);
        bits[size_t(bit / 64)] |= std::uint64_t(1) << (bit % 64);
    }
}

bool HostList::matchesKey(QStringView key) const {
    if (key.isEmpty() || (exact_.empty() && below_.empty())) {
        return false;
    }
    // From the end: at each dot the hash so far is that of the parent domain after it.
    std::uint64_t h = kTailSeed;
    for (qsizetype i = key.size() - 1; i >= 0; --i) {
        const char16_t c = key[i].unicode();
        if (c == u'.' && belowFilter_.mayHold(h) && below_.find(key.mid(i + 1)) != below_.end()) {
            return true;
        }
        h = tailStep(h, c);
    }
    return (exactFilter_.mayHold(h) && exact_.find(key) != exact_.end()) ||
           (belowFilter_.mayHold(h) && below_.find(key) != below_.end());
}

bool HostList::matchesUrl(QStringView url) const {
    return withUrlKey(url, [this](QStringView key) { return matchesKey(key); });
}

HostListFile loadHostList(const QString& path, const AnsiCodec& codec) {
    HostListFile out;
    ReadResult r = readWholeFile(path, kHostListReadLimit);
    if (r.error) {
        out.error = std::move(r.error);
        return out;
    }
    if (r.missing) {
        out.missing = true;
        return out;
    }
    out.list = HostList::parse(decodeTextFile(r.bytes, codec), &out.problems, &out.problemCount);
    return out;
}

QString hostListProblemText(const HostListFile& file, const QString& path, UiLanguage language) {
    if (file.problemCount == 0) {
        return {};
    }
    const bool ru = language == UiLanguage::Russian;
    QStringList lines;
    lines << (ru ? u"%1: строк, которые не являются именами хостов и пропущены: %2"_qs
                 : u"%1: %2 lines are not host names and were left out:"_qs)
                 .arg(path, QString::number(file.problemCount));
    for (const HostListProblem& p : file.problems) {
        const QString n = QString::number(p.line);
        if (p.kind == HostListProblem::TooLong) {
            lines << (ru ? u"  строка %1: длиннее %2 знаков"_qs
                         : u"  line %1: longer than %2 characters"_qs)
                         .arg(n, QString::number(kMaxHostLine));
        } else {
            lines << (ru ? u"  строка %1: \"%2\""_qs : u"  line %1: \"%2\""_qs).arg(n, p.text);
        }
    }
    if (const qsizetype more = file.problemCount - qsizetype(file.problems.size()); more > 0) {
        lines << (ru ? u"  и ещё %1"_qs : u"  and %1 more"_qs).arg(QString::number(more));
    }
    return lines.join(u'\n');
}

UrlReducer::UrlReducer(const LinkRules& rules)
    : byHost_(rules.byHost),
      ignored_(rules.ignored && !rules.ignored->empty() ? rules.ignored.get() : nullptr) {}

bool UrlReducer::reduce(const SortedStrings& in, SortedStrings& out) {
    if (!byHost_) {
        if (!ignored_) {
            return false;
        }
        qsizetype first = 0;
        while (first < in.size() && !ignored_->matchesUrl(in.text(first))) {
            ++first;
        }
        if (first == in.size()) {
            return false;
        }
        out.reserve(in.size() - 1);
        for (qsizetype i = 0; i < in.size(); ++i) {
            if (i != first && (i < first || !ignored_->matchesUrl(in.text(i)))) {
                out.add(in.text(i));
            }
        }
        return true;
    }
    keys_.clear();
    for (const auto& line : in) {
        withUrlKey(line.text, [&](QStringView key) {
            if (ignored_ && ignored_->matchesKey(key)) {
                return;
            }
            if (key.isEmpty()) {
                keys_.push_back(line.text);  // no host: the URL stands for itself
                return;
            }
            auto it = interned_.find(key);
            if (it == interned_.end()) {
                it = interned_.insert(key.toString()).first;
            }
            keys_.push_back(*it);
        });
    }
    const Collation& c = in.collation();
    std::sort(keys_.begin(), keys_.end(),
              [&c](const QString& a, const QString& b) { return c.less(a, b); });
    out.reserve(qsizetype(keys_.size()));
    for (QString& k : keys_) {
        out.add(std::move(k));  // equal neighbours are added once
    }
    return true;
}

SortedStrings reducedUrls(const SortedStrings& urls, const LinkRules& rules) {
    SortedStrings out(urls.collation());
    UrlReducer reducer(rules);
    return reducer.reduce(urls, out) ? out : urls;
}

LinkWork::LinkWork(const WorkList& work, const LinkRules& rules) {
    if (!rules.active()) {
        source_ = &work;
        return;
    }
    lines_ = work;
    const size_t n = work.size();
    std::vector<std::unique_ptr<TSerpEntry>> made(n);
    auto part = [&](size_t begin, size_t end) {
        UrlReducer reducer(rules);
        for (size_t i = begin; i < end; ++i) {
            const TSerpEntry* e = work[i].entry;
            if (!e) {
                continue;
            }
            SortedStrings urls(e->Urls.collation());
            if (reducer.reduce(e->Urls, urls)) {
                made[i] = std::make_unique<TSerpEntry>(e->Stamp);
                made[i]->Urls = std::move(urls);
            }
        }
    };
    // Large runs are split over the cores; each part keeps host keys of its own.
    const size_t parts =
        n < 20'000 ? 1 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::thread> threads;
    for (size_t p = 1; p < parts; ++p) {
        threads.emplace_back(part, n * p / parts, n * (p + 1) / parts);
    }
    part(0, n / parts);
    for (std::thread& t : threads) {
        t.join();
    }
    // Lines that shared an entry share its copy, as the engine expects of equal texts.
    QHash<const TSerpEntry*, TSerpEntry*> copyOf;
    entries_.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (!made[i]) {
            continue;
        }
        TSerpEntry*& copy = copyOf[work[i].entry];
        if (!copy) {
            copy = made[i].get();
            entries_.push_back(std::move(made[i]));
        }
        lines_[i].entry = copy;
    }
}

void LinkWork::clear() {
    source_ = nullptr;
    lines_.clear();
    entries_.clear();
}

}  // namespace kelvara
