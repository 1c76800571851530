// ignored-hosts.txt, a list users write by hand or paste from elsewhere.
//
// Properties: every line is either one usable host or one reported problem, and the counts add
// up; the list read whole is the union of its lines read alone; a usable line's host is ignored
// (a "*." line's subdomains too), also written in capitals, with "www." and a port in a URL;
// the problem text names every problem line it shows; the reduced URL list of the line's host
// keeps no ignored URL.

#include "fuzz_common.h"

#include "clustering/link_rules.h"

using namespace kelvara;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString text = decodeTextFile(fuzz::bytesOf(data, size), fuzz::cp1251());
    std::vector<HostListProblem> problems;
    qsizetype problemCount = 0;
    const HostList list = HostList::parse(text, &problems, &problemCount);
    FUZZ_CHECK(qsizetype(problems.size()) <= problemCount && problems.size() <= 20,
               QByteArray::number(problemCount));

    qsizetype usable = 0, bad = 0, lineNo = 0;
    SortedStrings urls(fuzz::russian());
    forEachLine(text, [&](QStringView line) {
        ++lineNo;
        qsizetype alone = 0;
        const HostList one = HostList::parse(line, nullptr, &alone);
        FUZZ_CHECK(one.size() + alone <= 1, fuzz::shown(line));
        bad += alone;
        if (one.empty()) {
            return;
        }
        ++usable;
        QStringView entry = line.left(line.indexOf(u'#') < 0 ? line.size() : line.indexOf(u'#'));
        entry = entry.trimmed();
        while (!entry.isEmpty() &&
               (entry.front() == QChar(0xFEFF) || entry.back() == QChar(0xFEFF))) {
            entry = (entry.front() == QChar(0xFEFF) ? entry.mid(1) : entry.chopped(1)).trimmed();
        }
        const bool below = entry.startsWith(u"*.");
        const QStringView host = below ? entry.mid(2) : entry;
        if (host.contains(u'/') || host.contains(u':') || host.contains(u'@')) {
            return;  // a URL or a host with a port: its host is checked through the URL below
        }
        const QString url = u"http://"_qs + host.toString() + u"/page"_qs;
        FUZZ_CHECK(one.matchesUrl(url) && list.matchesUrl(url), fuzz::shown(line));
        FUZZ_CHECK(list.matchesUrl(u"https://user@"_qs + host.toString() + u":8080/?q"_qs),
                   fuzz::shown(line));
        if (isAscii(host) && hostKey(host) == host.toString().toLower()) {
            FUZZ_CHECK(list.matchesUrl(u"http://WWW."_qs + host.toString().toUpper() + u"/"_qs),
                       fuzz::shown(line));
        }
        if (below) {
            FUZZ_CHECK(list.matchesUrl(u"http://a-b.c."_qs + host.toString() + u"/"_qs),
                       fuzz::shown(line));
        }
        urls.add(url);
    });
    FUZZ_CHECK(bad == problemCount,
               QByteArray::number(bad) + " " + QByteArray::number(problemCount));
    FUZZ_CHECK(list.size() <= usable, QByteArray::number(usable));
    FUZZ_CHECK(usable == 0 || !list.empty(), QByteArray::number(usable));

    HostListFile file;
    file.problems = problems;
    file.problemCount = problemCount;
    const QString said = hostListProblemText(file, u"f"_qs, UiLanguage::English);
    FUZZ_CHECK(said.isEmpty() == (problemCount == 0), fuzz::shown(said));
    for (const HostListProblem& p : problems) {
        FUZZ_CHECK(p.line >= 1 && p.line <= lineNo, QByteArray::number(p.line));
        FUZZ_CHECK(said.contains(u"line "_qs + QString::number(p.line) + u':'), fuzz::shown(said));
    }

    const LinkRules rules{std::make_shared<const HostList>(list), false};
    FUZZ_CHECK(reducedUrls(urls, rules).empty(), QByteArray::number(urls.size()));
    return 0;
}
