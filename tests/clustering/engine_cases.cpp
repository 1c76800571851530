#include "engine_cases.h"

#include "reference_engine.h"

#include <map>
#include <sstream>

namespace kelvara::test {

TestRun makeRun(const std::vector<LineSpec>& lines, const Collation& collation) {
    TestRun run;
    std::map<int, TSerpEntry*> byTag;
    for (const LineSpec& spec : lines) {
        TSerpEntry* entry = nullptr;
        if (spec.entry >= 0) {
            auto it = byTag.find(spec.entry);
            if (it != byTag.end()) {
                entry = it->second;
            }
        }
        if (!entry) {
            auto e = std::make_unique<TSerpEntry>(Stamp(1));
            e->Urls = SortedStrings(collation);
            for (const QString& u : spec.urls) {
                e->Urls.add(u);
            }
            entry = e.get();
            run.entries.push_back(std::move(e));
            if (spec.entry >= 0) {
                byTag[spec.entry] = entry;
            }
        }
        run.work.push_back(WorkLine{spec.text, entry});
    }
    return run;
}

std::string describe(const Outcome& o) {
    std::ostringstream s;
    s << "status " << int(o.status) << ", done " << o.done << " of " << o.total << ", groups:\n";
    for (size_t g = 0; g < o.groups.size(); ++g) {
        s << "  [" << g << "] ";
        if (!o.groups[g]) {
            s << "null";
        } else {
            for (const QString& t : *o.groups[g]) {
                s << '"' << t.toStdString() << "\" ";
            }
        }
        s << '\n';
    }
    s << "  GroupIndex:";
    for (int gi : o.groupIndex) {
        s << ' ' << gi;
    }
    return s.str();
}

Engine referenceEngine() {
    return [](const WorkList& work, TStringListDynArray& groups, bool hard, int k,
              GroupingProgress& progress, const std::function<bool()>& stop,
              const Collation& c) { referenceGrouping(work, groups, hard, k, progress, stop, c); };
}

Engine fastEngine() {
    return [](const WorkList& work, TStringListDynArray& groups, bool hard, int k,
              GroupingProgress& progress, const std::function<bool()>& stop,
              const Collation& c) { runGrouping(work, groups, hard, k, progress, stop, c); };
}

Outcome runWith(const Engine& engine, TestRun& run, bool hard, int k, const Collation& collation,
                const std::function<bool()>& stop) {
    // Leftovers of an earlier run must not matter.
    for (auto& e : run.entries) {
        e->GroupIndex = 12345;
    }
    TStringListDynArray groups;
    groups.push_back(std::make_unique<QStringList>(QStringList{u"stale"_qs}));
    groups.push_back(nullptr);
    GroupingProgress progress;
    engine(run.work, groups, hard, k, progress, stop, collation);
    Outcome o;
    for (const auto& g : groups) {
        o.groups.push_back(g ? std::optional<QStringList>(*g) : std::nullopt);
    }
    for (const auto& e : run.entries) {
        o.groupIndex.push_back(e->GroupIndex);
    }
    o.total = progress.FTotalIterations.load();
    o.done = progress.FSuccessIterations.load();
    o.status = progress.FStatus.load();
    return o;
}

std::vector<std::optional<QStringList>> groupsOf(const Outcome& o) {
    return o.groups;
}

namespace {

template <class T>
const T& pick(std::mt19937_64& rng, const std::vector<T>& v) {
    return v[size_t(rng() % v.size())];
}

bool chance(std::mt19937_64& rng, double p) {
    return double(rng() % 1'000'000) < p * 1e6;
}

QString otherCase(std::mt19937_64& rng, const QString& s) {
    QString t = s;
    for (QChar& c : t) {
        if (chance(rng, 0.5)) {
            c = c.isUpper() ? c.toLower() : c.toUpper();
        }
    }
    return t;
}

}  // namespace

std::vector<LineSpec> randomLines(std::mt19937_64& rng, const RandomShape& shape) {
    int urlCount = 1 + int(rng() % std::uint64_t(shape.maxUrls));
    if (shape.maxListLength > 10) {
        urlCount = std::max(urlCount, shape.maxListLength + 4);
    }
    std::vector<QString> urls;
    static const std::vector<QString> words = {u"a"_qs,    u"b"_qs,      u"news"_qs,
                                               u"shop"_qs, u"item-1"_qs, u"Item_2"_qs};
    for (int j = 0; j < urlCount; ++j) {
        const int kind = int(rng() % 100);
        QString u;
        if (shape.nonAsciiUrls && kind < 6) {
            u = u"http://сайт"_qs + QString::number(j % 3) + u".рф/"_qs + QString::number(j);
        } else if (shape.nonAsciiUrls && kind < 10) {
            u = u"http://q.ru/?a="_qs + QString::number(j % 4) + u'|' + QString::number(j);
        } else if (kind < 12) {
            u = QString();
        } else {
            // Host-only URLs and the same with a slash and a path: prefixes of each other.
            u = u"http://s"_qs + QString::number(j % 5) + u".ru"_qs;
            if (j % 3 != 0 || shape.maxListLength > 10) {
                u += u'/';
            }
            if (j % 3 == 2 || shape.maxListLength > 10) {
                u += pick(rng, words) + QString::number(j);
            }
        }
        if (std::find(urls.begin(), urls.end(), u) == urls.end()) {
            urls.push_back(u);
        }
    }
    const int vocabulary = 1 + int(rng() % 12);
    std::vector<QString> texts;
    for (int v = 0; v < vocabulary; ++v) {
        static const std::vector<QString> stems = {u"купить кофе"_qs, u"кофе"_qs, u"Ёлка"_qs,
                                                   u"елка"_qs,        u"zeta"_qs, u"Alpha beta"_qs,
                                                   u"alpha"_qs};
        texts.push_back(pick(rng, stems) +
                        (v < int(stems.size()) ? QString() : QString::number(v)));
    }
    const int n = int(rng() % std::uint64_t(shape.maxLines + 1));
    std::vector<LineSpec> lines;
    int nextTag = 0;
    for (int i = 0; i < n; ++i) {
        LineSpec line;
        if (!lines.empty() && chance(rng, 0.25)) {
            const LineSpec& earlier = lines[size_t(rng() % lines.size())];
            line.text = chance(rng, 0.5) ? earlier.text : otherCase(rng, earlier.text);
            if (chance(rng, 0.6)) {
                line.entry = earlier.entry;  // answered from the cache
                line.urls = earlier.urls;
                lines.push_back(line);
                continue;
            }
        } else if (chance(rng, 0.05)) {
            line.text = QString();
        } else {
            line.text = pick(rng, texts);
        }
        line.entry = nextTag++;
        int count = chance(rng, 0.15) ? int(rng() % 3) : 3 + int(rng() % 8);
        const int centre = int(rng() % urls.size());
        if (shape.maxListLength > 10 && chance(rng, 0.6)) {
            // A long list: a run of the pool, so that long lists overlap in most of it.
            count = 10 + int(rng() % std::uint64_t(shape.maxListLength - 9));
            for (int c = 0; c < count; ++c) {
                QString u = urls[size_t((centre / 4 + c) % int(urls.size()))];
                line.urls.append(chance(rng, 0.15) ? otherCase(rng, u) : u);
            }
            lines.push_back(line);
            continue;
        }
        for (int c = 0; c < count; ++c) {
            int j;
            if (chance(rng, 0.2)) {
                j = int(rng() % std::min<size_t>(3, urls.size()));  // popular
            } else {
                j = (centre + int(rng() % 7)) % int(urls.size());
            }
            QString u = urls[size_t(j)];
            if (chance(rng, 0.15)) {
                u = otherCase(rng, u);
            }
            line.urls.append(u);
        }
        lines.push_back(line);
    }
    return lines;
}

std::string dump(const std::vector<LineSpec>& lines) {
    std::ostringstream s;
    for (const LineSpec& l : lines) {
        s << "  {\"" << l.text.toStdString() << "\", {";
        for (const QString& u : l.urls) {
            s << '"' << u.toStdString() << "\", ";
        }
        s << "}, " << l.entry << "},\n";
    }
    return s.str();
}

}  // namespace kelvara::test
