// A CSV file opened as the program's export: the program's own, edited, or anything else.
//
// Properties: a text that is no export is refused naming a line inside it; the clusters read
// from one, exported again (in either language), read back to the same clusters.

#include "fuzz_common.h"

#include "table/csv_export.h"
#include "table/export_readback.h"

using namespace kelvara;

namespace {

QByteArray describe(const ClusterList& clusters) {
    QByteArray out;
    for (const Cluster& c : clusters) {
        out += fuzz::shown(c.caption) + " (" + QByteArray::number(c.phrases.size()) + "):";
        for (const QString& p : c.phrases) {
            out += " [" + fuzz::shown(p) + "]";
        }
        out += '\n';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString text = decodeTextFile(fuzz::bytesOf(data, size), fuzz::cp1251());
    const ExportRead read = parseExport(text);
    if (!read.clusters) {
        FUZZ_CHECK(read.line >= 1 && read.line <= text.size() + 1,
                   "line " + QByteArray::number(read.line));
        FUZZ_CHECK(!exportReadProblem(read, UiLanguage::English).isEmpty(), "no message");
        return 0;
    }
    const ResultStore empty(fuzz::russian());
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Russian}) {
        const ExportRead again = parseExport(exportText(*read.clusters, empty, language));
        FUZZ_CHECK(again.clusters && *again.clusters == *read.clusters,
                   describe(*read.clusters) + "--- read back as\n" +
                       describe(again.clusters.value_or(ClusterList())));
    }
    return 0;
}
