#include "datagen.h"

#include "core/collation.h"
#include "core/textfile.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kelvara::datagen {

namespace {

// xoshiro256** seeded through splitmix64: the same numbers on every platform, unlike the
// standard distributions.
class Rng {
public:
    explicit Rng(std::uint64_t seed) {
        for (auto& s : s_) {
            seed += 0x9e3779b97f4a7c15ULL;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            s = z ^ (z >> 31);
        }
    }
    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // 0 <= result < n
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }
    double real() { return double(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return real() < p; }
    template <class T>
    const T& pick(const std::vector<T>& v) {
        return v[size_t(below(v.size()))];
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t s_[4];
};

std::vector<QString> words(const char16_t* list) {
    std::vector<QString> out;
    for (const QString& w : QString::fromUtf16(list).split(u'|')) {
        out.push_back(w);
    }
    return out;
}

// Subjects, qualifiers and the words people add to them.
const std::vector<QString>& subjects() {
    static const std::vector<QString> v = words(
        u"кофемашина|холодильник|стиральная машина|посудомоечная машина|ноутбук|смартфон|планшет|"
        u"диван|матрас|кровать|ламинат|обои|плитка|пластиковые окна|межкомнатные двери|"
        u"входная дверь|шины|литые диски|аккумулятор|велосипед|электросамокат|детская коляска|"
        u"детская кроватка|палатка|спальник|удочка|кроссовки|куртка|пуховик|платье|сумка|часы|"
        u"наушники|телевизор|пылесос|робот пылесос|микроволновка|чайник|мультиварка|блендер|утюг|"
        u"фен|кондиционер|обогреватель|газовый котел|бойлер|септик|забор|теплица|беседка|баня|"
        u"кирпич|цемент|гипсокартон|утеплитель|краска|линолеум|кухня|шкаф купе|стол|стул|кресло|"
        u"люстра|зеркало|ковер|шторы|постельное белье|подушка|одеяло|корм для кошек|"
        u"корм для собак|аквариум|клетка для попугая|виза|тур|отель|авиабилеты|такси|"
        u"грузоперевозки|эвакуатор|автосервис|шиномонтаж|химчистка|клининг|ремонт квартиры|"
        u"натяжные потолки|курсы английского|репетитор|автошкола|юрист|нотариус|стоматология|"
        u"имплантация зубов|массаж|фитнес клуб|йога|бассейн|детский сад|школьная форма|рюкзак|"
        u"принтер|монитор|видеокарта|процессор|роутер|фотоаппарат|объектив|квадрокоптер|"
        u"игровая приставка|электрогитара|пианино|скрипка|бензопила|дрель|шуруповерт|перфоратор|"
        u"болгарка|сварочный аппарат|генератор|мотоблок|газонокосилка|триммер|снегоуборщик|"
        u"лодка пвх|лодочный мотор|мангал|гриль|самогонный аппарат|кальян|вейп|духи|помада|"
        u"крем для лица|шампунь|краска для волос|маникюр|наращивание ресниц|стрижка|"
        u"свадебное платье|букет цветов|торт на заказ|пицца|суши|доставка еды|кейтеринг");
    return v;
}

const std::vector<QString>& qualifiers() {
    static const std::vector<QString> v = words(
        u"недорогой|белый|черный|серый|красный|детский|женский|мужской|электрический|деревянный|"
        u"металлический|большой|маленький|компактный|складной|б у|новый|японский|немецкий|"
        u"итальянский|китайский|корейский|профессиональный|бюджетный|премиум|встраиваемый|"
        u"напольный|настенный|угловой|ручной|автоматический|беспроводной|игровой|офисный|"
        u"садовый|зимний|летний|уличный|для дачи|для дома|для офиса|для детей|для новичков");
    return v;
}

const std::vector<QString>& modifiers() {
    static const std::vector<QString> v = words(
        u"купить|цена|цены|отзывы|недорого|дешево|интернет магазин|каталог|фото|своими руками|"
        u"как выбрать|рейтинг|лучшие|2023|2024|с доставкой|в кредит|в рассрочку|акции|скидки|"
        u"официальный сайт|характеристики|инструкция|ремонт|размеры|виды|топ 10|сравнение|аренда|"
        u"под ключ|стоимость|прайс|оптом|на заказ|распродажа|новинки|какой лучше|где купить|"
        u"чем отличается|плюсы и минусы|форум|видео|схема|установка|обслуживание|гарантия|"
        u"магазин рядом|круглосуточно|бесплатно|онлайн|с фото|мнения|обзор|тест|выбор");
    return v;
}

const std::vector<QString>& cities() {
    static const std::vector<QString> v = words(
        u"в москве|в спб|в санкт петербурге|в екатеринбурге|в казани|в новосибирске|"
        u"в краснодаре|в самаре|в ростове на дону|в уфе|в перми|в воронеже|в челябинске|в омске|"
        u"в нижнем новгороде|в волгограде|в тюмени|в сочи|в туле|в твери|в ярославле|в иркутске|"
        u"в хабаровске|во владивостоке|в красноярске|в саратове|в ижевске|в барнауле|в томске|"
        u"в кемерово|в рязани|в пензе|в липецке|в калининграде|в оренбурге|в астрахани|"
        u"московская область|подмосковье|спб и ло|рядом со мной");
    return v;
}

const std::vector<QString>& sections() {
    static const std::vector<QString> v = words(
        u"catalog|product|products|item|goods|shop|blog|articles|article|reviews|otzyvy|forum|"
        u"q|news|wiki|info|uslugi|services|price|tovary|category|c|p|view|page");
    return v;
}

QString translit(const QString& s) {
    static const QHash<QChar, QString> map = [] {
        QHash<QChar, QString> m;
        const QString ru = QStringLiteral("абвгдеёжзийклмнопрстуфхцчшщъыьэюя");
        const QStringList lat = QStringLiteral(
                                    "a b v g d e e zh z i y k l m n o p r s t u f h ts ch sh "
                                    "sch _ y _ e yu ya")
                                    .split(u' ');
        for (int i = 0; i < ru.size(); ++i) {
            m.insert(ru[i], lat[i] == u"_"_qs ? QString() : lat[i]);
        }
        return m;
    }();
    QString out;
    out.reserve(s.size() * 2);
    for (QChar c : s) {
        const QChar l = c.toLower();
        if (auto it = map.constFind(l); it != map.constEnd()) {
            out += *it;
        } else if (l.isLetterOrNumber() && l.unicode() < 128) {
            out += l;
        } else if (!out.endsWith(u'-')) {
            out += u'-';
        }
    }
    while (out.endsWith(u'-')) {
        out.chop(1);
    }
    return out;
}

// Invented but plausible host names, so that nothing real is named.
QString hostName(Rng& rng, int index) {
    static const std::vector<QString> syl = words(
        u"ma|ko|ri|ta|ne|vo|li|sa|do|mi|ru|ba|te|zo|ka|pro|dom|mir|tech|shop|lux|eco|avto|stroy|"
        u"market|zoo|med|kid|sport|gid|info|pro|top|best|city|land|club|home|star|net");
    static const std::vector<QString> tld = words(u"ru|ru|ru|ru|com|net|org|su|info|pro");
    QString h;
    const int n = 2 + int(rng.below(2));
    for (int i = 0; i < n; ++i) {
        h += rng.pick(syl);
    }
    if (rng.chance(0.25)) {
        h.prepend(u"www."_qs);
    }
    return h + QString::number(index % 97) + u'.' + rng.pick(tld);
}

// Heavy-tailed topic size with the given mean: a Lomax (Pareto II) draw, capped.
int topicSize(Rng& rng, double mean, int cap) {
    const double alpha = 1.7;
    const double lambda = std::max(0.0, mean - 1.0) * (alpha - 1.0);
    const double u = std::max(1e-12, 1.0 - rng.real());
    const double x = lambda * (std::pow(u, -1.0 / alpha) - 1.0);
    return int(std::min<double>(cap, 1.0 + std::floor(x)));
}

// Draws by weight from a cumulative table.
qsizetype drawCumulative(Rng& rng, const std::vector<double>& cumulative) {
    const double x = rng.real() * cumulative.back();
    return qsizetype(std::upper_bound(cumulative.begin(), cumulative.end(), x) -
                     cumulative.begin());
}

// How many popular pages a list holds.
int popularCount(Rng& rng) {
    const double x = rng.real();
    return x < 0.25 ? 0 : x < 0.65 ? 1 : x < 0.9 ? 2 : 3;
}
constexpr double kMeanPopular = 0.40 * 1 + 0.25 * 2 + 0.10 * 3;

// Power-law weights 1/(r+q) over the popular pool, with q chosen so that the first page stands in
// the asked share of lists.
std::vector<double> popularWeights(qsizetype size, double topShare) {
    auto shareFor = [&](double q, std::vector<double>* cum) {
        double sum = 0;
        if (cum) {
            cum->resize(size_t(size));
        }
        for (qsizetype r = 0; r < size; ++r) {
            sum += 1.0 / (double(r) + 1.0 + q);
            if (cum) {
                (*cum)[size_t(r)] = sum;
            }
        }
        const double p1 = (1.0 / (1.0 + q)) / sum;
        // P(the list holds page 1) for 0..3 draws with the probabilities of popularCount.
        const double miss =
            0.25 + 0.40 * (1 - p1) + 0.25 * std::pow(1 - p1, 2) + 0.10 * std::pow(1 - p1, 3);
        return 1.0 - miss;
    };
    double lo = 0;
    double hi = 1e6;
    if (shareFor(lo, nullptr) > topShare) {
        for (int it = 0; it < 60; ++it) {
            const double mid = std::sqrt(std::max(lo, 1e-9) * hi);
            (shareFor(mid, nullptr) > topShare ? lo : hi) = mid;
        }
    }
    std::vector<double> cum;
    shareFor(hi > 1e5 ? 0 : hi, &cum);
    return cum;
}

QString caseVariant(const QString& url) {
    // Upper-case the scheme and host, as a copy-paste from another tool might.
    const qsizetype start = url.indexOf(u"://"_qs);
    const qsizetype end = start < 0 ? -1 : url.indexOf(u'/', start + 3);
    if (end < 0) {
        return url.toUpper();
    }
    return url.left(end).toUpper() + url.mid(end);
}

struct Topic {
    QString head;
    QString slug;
    std::vector<QString> pool;       // the topic's pages
    std::vector<double> cumulative;  // their weights
};

}  // namespace

std::vector<GeneratedQuery> generateQueries(const Params& params) {
    Rng rng(params.seed);
    const qsizetype n = std::max<qsizetype>(0, params.queries);
    std::vector<GeneratedQuery> out;
    out.reserve(size_t(n));

    // Hosts: a few big ones for the popular pages, many for the rest.
    std::vector<QString> hosts;
    for (int i = 0; i < 4000; ++i) {
        hosts.push_back(hostName(rng, i));
    }
    std::vector<QString> bigHosts(hosts.begin(), hosts.begin() + 40);

    // The popular pages: category and landing pages of big sites.
    const qsizetype popularSize = std::max<qsizetype>(200, n / 20);
    std::vector<QString> popular;
    popular.reserve(size_t(popularSize));
    for (qsizetype r = 0; r < popularSize; ++r) {
        const QString word = translit(rng.pick(subjects()));
        popular.push_back(u"https://"_qs + rng.pick(bigHosts) + u'/' + rng.pick(sections()) + u'/' +
                          word + (r < 40 ? QString() : u'-' + QString::number(r)) + u'/');
    }
    const std::vector<double> popularCum = popularWeights(popularSize, params.topUrlShare);

    QSet<QString> usedTexts;  // lower-case
    QSet<QString> usedHeads;
    qsizetype uniquePages = 0;
    const int listMax = std::max(0, params.urlsPerQuery);

    while (qsizetype(out.size()) < n) {
        const int size = std::max(
            1, std::min<int>(topicSize(rng, params.meanTopicSize, std::max(1, params.maxTopicSize)),
                             int(n - qsizetype(out.size()))));
        Topic topic;
        for (int attempt = 0;; ++attempt) {
            QString head = rng.pick(subjects());
            if (rng.chance(0.6)) {
                head = rng.pick(qualifiers()) + u' ' + head;
            }
            if (rng.chance(0.3) || attempt > 3) {
                head += u' ' + QString(QChar(u'a' + int(rng.below(26)))) +
                        QString::number(rng.below(attempt > 10 ? 100000 : 1000));
            }
            if (!usedHeads.contains(head)) {
                usedHeads.insert(head);
                topic.head = head;
                break;
            }
        }
        topic.slug = translit(topic.head);
        const int poolSize = std::clamp(6 + int(std::lround(2.5 * std::sqrt(double(size)))), 8, 80);
        double sum = 0;
        for (int j = 0; j < poolSize; ++j) {
            QString page =
                u"https://"_qs + rng.pick(hosts) + u'/' + rng.pick(sections()) + u'/' + topic.slug;
            if (j > 0 || rng.chance(0.5)) {
                page += u'-' + QString::number(rng.below(100000));
            }
            page += rng.chance(0.5) ? u"/"_qs : u".html"_qs;
            topic.pool.push_back(page);
            sum += 1.0 / std::pow(double(j) + 1.0, 0.8);
            topic.cumulative.push_back(sum);
        }

        for (int q = 0; q < size; ++q) {
            GeneratedQuery query;
            for (int attempt = 0;; ++attempt) {
                QStringList parts{topic.head};
                const int mods = int(rng.below(4)) + (attempt > 5 ? 2 : 0);
                for (int m = 0; m < mods; ++m) {
                    const QString& w = rng.chance(0.3) ? rng.pick(cities()) : rng.pick(modifiers());
                    if (!parts.contains(w)) {
                        if (rng.chance(0.35)) {
                            parts.prepend(w);
                        } else {
                            parts.append(w);
                        }
                    }
                }
                QString text = parts.join(u' ');
                if (attempt > 20) {
                    text += u' ' + QString::number(rng.below(1000000));
                }
                const QString lower = text.toLower();
                if (!usedTexts.contains(lower)) {
                    usedTexts.insert(lower);
                    query.text = text;
                    break;
                }
            }

            const int length = rng.chance(params.fullListShare)
                                   ? listMax
                                   : int(rng.below(std::uint64_t(std::max(1, listMax))));
            QSet<QString> taken;
            auto add = [&](const QString& url) {
                if (qsizetype(query.urls.size()) < length && !taken.contains(url)) {
                    taken.insert(url);
                    query.urls.append(rng.chance(params.caseVariantUrls) ? caseVariant(url) : url);
                    return true;
                }
                return false;
            };
            for (int p = popularCount(rng); p > 0; --p) {
                add(popular[size_t(drawCumulative(rng, popularCum))]);
            }
            int guard = 0;
            while (qsizetype(query.urls.size()) < length && guard++ < 200) {
                if (rng.chance(params.uniqueUrlShare) || guard > 60) {
                    const QString page = u"https://"_qs + rng.pick(hosts) + u'/' +
                                         rng.pick(sections()) + u'/' + topic.slug + u'-' +
                                         QString::number(++uniquePages) + u".html"_qs;
                    add(page);
                } else {
                    add(topic.pool[size_t(drawCumulative(rng, topic.cumulative))]);
                }
            }
            // The service lists results by rank, not alphabetically.
            for (qsizetype a = query.urls.size() - 1; a > 0; --a) {
                query.urls.swapItemsAt(a, qsizetype(rng.below(std::uint64_t(a + 1))));
            }
            out.push_back(std::move(query));
        }
    }
    (void)kMeanPopular;
    return out;
}

namespace {

std::unique_ptr<TSerpEntry> makeEntry(const QStringList& urls, Stamp stamp) {
    auto entry = std::make_unique<TSerpEntry>(stamp);
    // Adding in sorted order lets the list append instead of insert.
    QStringList sorted = urls;
    const Collation& c = Collation::program();
    std::sort(sorted.begin(), sorted.end(),
              [&](const QString& a, const QString& b) { return c.less(a, b); });
    entry->Urls.reserve(sorted.size());
    for (QString& u : sorted) {
        entry->Urls.add(std::move(u));
    }
    return entry;
}

QString otherCase(const QString& text, Rng& rng) {
    if (text.isEmpty()) {
        return text;
    }
    switch (rng.below(3)) {
        case 0:
            return text.toUpper();
        case 1:
            return text.left(1).toUpper() + text.mid(1);
        default: {
            QString t = text;
            for (QChar& c : t) {
                if (rng.chance(0.3)) {
                    c = c.toUpper();
                }
            }
            return t == text ? text.toUpper() : t;
        }
    }
}

}  // namespace

GeneratedRun makeRun(const std::vector<GeneratedQuery>& queries, Stamp stamp) {
    GeneratedRun run;
    run.entries.reserve(queries.size());
    run.work.reserve(queries.size());
    for (const GeneratedQuery& q : queries) {
        run.entries.push_back(makeEntry(q.urls, stamp));
        run.work.push_back(WorkLine{q.text, run.entries.back().get()});
    }
    return run;
}

GeneratedRun generateRun(const Params& params, Stamp stamp) {
    std::vector<GeneratedQuery> queries = generateQueries(params);
    Rng rng(params.seed ^ 0x5bd1e995ULL);
    if (params.shuffle) {
        for (qsizetype a = qsizetype(queries.size()) - 1; a > 0; --a) {
            std::swap(queries[size_t(a)], queries[size_t(rng.below(std::uint64_t(a + 1)))]);
        }
    }
    GeneratedRun run = makeRun(queries, stamp);
    const qsizetype base = qsizetype(run.work.size());
    if (base == 0 && params.emptyQueries == 0) {
        return run;
    }
    auto insertAt = [&](WorkLine line) {
        const qsizetype at = qsizetype(rng.below(std::uint64_t(run.work.size() + 1)));
        run.work.insert(run.work.begin() + at, std::move(line));
    };
    auto count = [&](double share) { return qsizetype(std::llround(share * double(base))); };
    // A second fetch of a query: mostly the same pages, a few moved in or out.
    auto refetched = [&](const GeneratedQuery& q) {
        QStringList urls = q.urls;
        for (int d = int(rng.below(3)); d > 0 && !urls.isEmpty(); --d) {
            urls.removeAt(qsizetype(rng.below(std::uint64_t(urls.size()))));
        }
        for (int a = int(rng.below(3)); a > 0; --a) {
            const GeneratedQuery& other = queries[size_t(rng.below(queries.size()))];
            if (!other.urls.isEmpty()) {
                const QString& u =
                    other.urls[qsizetype(rng.below(std::uint64_t(other.urls.size())))];
                if (!urls.contains(u, Qt::CaseInsensitive)) {
                    urls.append(u);
                }
            }
        }
        return urls;
    };
    for (qsizetype r = count(params.repeatSameEntry); r > 0 && base > 0; --r) {
        const qsizetype i = qsizetype(rng.below(std::uint64_t(base)));
        insertAt(WorkLine{queries[size_t(i)].text, run.entries[size_t(i)].get()});
    }
    for (qsizetype r = count(params.repeatNewEntry); r > 0 && base > 0; --r) {
        const GeneratedQuery& q = queries[size_t(rng.below(std::uint64_t(base)))];
        run.entries.push_back(makeEntry(refetched(q), stamp));
        insertAt(WorkLine{q.text, run.entries.back().get()});
    }
    for (qsizetype r = count(params.caseVariantLines); r > 0 && base > 0; --r) {
        const qsizetype i = qsizetype(rng.below(std::uint64_t(base)));
        const GeneratedQuery& q = queries[size_t(i)];
        TSerpEntry* entry = run.entries[size_t(i)].get();
        if (rng.chance(0.5)) {
            run.entries.push_back(makeEntry(refetched(q), stamp));
            entry = run.entries.back().get();
        }
        insertAt(WorkLine{otherCase(q.text, rng), entry});
    }
    if (params.emptyQueries > 0) {
        // The empty line: answered once (shared entry), sometimes fetched again.
        QStringList urls = queries.empty() ? QStringList{u"https://empty.example/"_qs}
                                           : queries[size_t(rng.below(queries.size()))].urls;
        run.entries.push_back(makeEntry(urls, stamp));
        TSerpEntry* shared = run.entries.back().get();
        for (int e = 0; e < params.emptyQueries; ++e) {
            TSerpEntry* entry = shared;
            if (e > 0 && rng.chance(0.3)) {
                run.entries.push_back(makeEntry(urls, stamp));
                entry = run.entries.back().get();
            }
            insertAt(WorkLine{QString(), entry});
        }
    }
    return run;
}

ResultStore buildStore(const std::vector<GeneratedQuery>& queries, Stamp stamp) {
    const Collation& c = Collation::program();
    std::vector<qsizetype> order(queries.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return c.less(queries[size_t(a)].text, queries[size_t(b)].text);
    });
    ResultStore store;
    store.reserve(qsizetype(queries.size()));
    for (qsizetype i : order) {
        auto entry = makeEntry(queries[size_t(i)].urls, stamp);
        store.add(queries[size_t(i)].text, std::move(entry));
    }
    return store;
}

namespace {

const AnsiCodec& cp1251() {
    static const AnsiCodec codec{"windows-1251"};
    return codec;
}

}  // namespace

QByteArray importFile(const std::vector<GeneratedQuery>& queries) {
    QString text = u"Запрос;URL [Yandex]\r\n"_qs;
    for (const GeneratedQuery& q : queries) {
        text += q.text + u";\r\n"_qs;
        for (const QString& u : q.urls) {
            text += u';' + u + u"\r\n"_qs;
        }
    }
    return cp1251().encode(text);
}

QByteArray queriesFile(const std::vector<GeneratedQuery>& queries, bool bom) {
    QByteArray out = bom ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    for (const GeneratedQuery& q : queries) {
        out += q.text.toUtf8();
        out += "\r\n";
    }
    return out;
}

QByteArray cacheFile(const std::vector<GeneratedQuery>& queries, Stamp stamp) {
    const QString prefix = QString::number(stamp) + u';';
    QString text;
    for (const GeneratedQuery& q : queries) {
        text += prefix + q.text;
        for (const QString& u : q.urls) {
            text += u';' + u;
        }
        text += u"\r\n"_qs;
    }
    return cp1251().encode(text);
}

Stats describe(const std::vector<GeneratedQuery>& queries, int urlsPerQuery) {
    Stats s;
    s.queries = qsizetype(queries.size());
    QHash<QString, qsizetype> count;
    qsizetype full = 0;
    for (const GeneratedQuery& q : queries) {
        s.urlOccurrences += q.urls.size();
        full += q.urls.size() == urlsPerQuery ? 1 : 0;
        for (const QString& u : q.urls) {
            ++count[u.toLower()];
        }
    }
    s.distinctUrls = count.size();
    qsizetype top = 0;
    qsizetype sharedOccurrences = 0;
    for (auto it = count.cbegin(); it != count.cend(); ++it) {
        top = std::max(top, it.value());
        if (it.value() > 1) {
            ++s.sharedUrls;
            sharedOccurrences += it.value();
        }
    }
    if (s.queries > 0) {
        s.fullLists = double(full) / double(s.queries);
        s.topUrlShare = double(top) / double(s.queries);
        s.meanSharedPerQuery = double(sharedOccurrences) / double(s.queries);
    }
    return s;
}

}  // namespace kelvara::datagen
