// kelvara-datagen: writes generated queries as an import CSV, a query list or a cache file.

#include "datagen.h"

#include "core/platform.h"
#include "core/textfile.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <optional>

using namespace kelvara;

namespace {

const char kHelp[] =
    "Usage: kelvara-datagen [options]\n"
    "Writes realistic clustering input: Russian queries in topical clusters with their top-10\n"
    "result URLs. The same options and seed give the same bytes.\n"
    "\n"
    "  --queries N        number of queries (default 10000)\n"
    "  --seed S           random seed (default 1)\n"
    "  --format F         import  CSV for the query import: header \"Запрос;URL [Yandex]\",\n"
    "                             a row \"query;\" per query, a row \";url\" per URL,\n"
    "                             CR LF, windows-1251 (default)\n"
    "                     queries one query per line, UTF-8 with a byte-order mark, CR LF\n"
    "                     cache   cache.txt lines \"stamp;query;url;...\", CR LF,\n"
    "                             windows-1251, every stamp the current time\n"
    "  --out FILE         output file (default: standard output)\n"
    "  --topic-size M     mean queries per topic (default 12; sizes are heavy-tailed)\n"
    "  --top-share X      share of lists holding the most popular URL (default 0.07)\n"
    "  --unique-share X   share of a list's topic slots with pages of that query only\n"
    "                     (default 0.3)\n"
    "  --no-bom           queries format: no byte-order mark\n"
    "  --stats            print figures about the data to standard error\n"
    "  --help             this text\n";

std::optional<double> number(const QString& s) {
    bool ok = false;
    const double v = s.toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

int fail(const QString& message) {
    std::fprintf(stderr, "kelvara-datagen: %s\nTry --help.\n", message.toLocal8Bit().constData());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    datagen::Params params;
    QString format = u"import"_qs;
    QString out;
    bool bom = true;
    bool stats = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return args[++i];
        };
        if (a == u"--help"_qs || a == u"-h"_qs) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == u"--no-bom"_qs) {
            bom = false;
            continue;
        }
        if (a == u"--stats"_qs) {
            stats = true;
            continue;
        }
        const std::optional<QString> v = value();
        if (!v) {
            return fail(u"missing value after "_qs + a);
        }
        if (a == u"--format"_qs) {
            format = *v;
            if (format != u"import"_qs && format != u"queries"_qs && format != u"cache"_qs) {
                return fail(u"unknown format \""_qs + format + u"\" (import, queries or cache)"_qs);
            }
        } else if (a == u"--out"_qs) {
            out = *v;
        } else if (a == u"--queries"_qs) {
            bool ok = false;
            const qlonglong n = v->toLongLong(&ok);
            if (!ok || n < 0) {
                return fail(u"--queries wants a whole number of 0 or more"_qs);
            }
            params.queries = qsizetype(n);
        } else if (a == u"--seed"_qs) {
            bool ok = false;
            const qulonglong s = v->toULongLong(&ok);
            if (!ok) {
                return fail(u"--seed wants a whole number of 0 or more"_qs);
            }
            params.seed = s;
        } else if (a == u"--topic-size"_qs) {
            const auto x = number(*v);
            if (!x || *x < 1) {
                return fail(u"--topic-size wants a number of 1 or more"_qs);
            }
            params.meanTopicSize = *x;
        } else if (a == u"--top-share"_qs) {
            const auto x = number(*v);
            if (!x || *x <= 0 || *x >= 1) {
                return fail(u"--top-share wants a number between 0 and 1"_qs);
            }
            params.topUrlShare = *x;
        } else if (a == u"--unique-share"_qs) {
            const auto x = number(*v);
            if (!x || *x < 0 || *x > 1) {
                return fail(u"--unique-share wants a number from 0 to 1"_qs);
            }
            params.uniqueUrlShare = *x;
        } else {
            return fail(u"unknown option "_qs + a);
        }
    }

    const std::vector<datagen::GeneratedQuery> queries = datagen::generateQueries(params);
    if (stats) {
        const datagen::Stats s = datagen::describe(queries, params.urlsPerQuery);
        std::fprintf(stderr,
                     "queries %lld, URL occurrences %lld, distinct URLs %lld, shared URLs %lld, "
                     "full lists %.3f, top URL in %.4f of lists, shared URLs per query %.2f\n",
                     qlonglong(s.queries), qlonglong(s.urlOccurrences), qlonglong(s.distinctUrls),
                     qlonglong(s.sharedUrls), s.fullLists, s.topUrlShare, s.meanSharedPerQuery);
    }
    QByteArray bytes;
    if (format == u"import"_qs) {
        bytes = datagen::importFile(queries);
    } else if (format == u"queries"_qs) {
        bytes = datagen::queriesFile(queries, bom);
    } else {
        bytes = datagen::cacheFile(queries, CurrentStamp());
    }
    if (out.isEmpty() || out == u"-"_qs) {
        QFile f;
        if (!f.open(stdout, QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            return fail(u"cannot write to standard output"_qs);
        }
        return 0;
    }
    if (const auto error = writeBytesAtomically(out, bytes)) {
        std::fprintf(stderr, "kelvara-datagen: %s\n", error->message().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
