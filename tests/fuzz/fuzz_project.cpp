// A project file as an editor, a crash, another machine or a hostile sender may have left it.
//
// Properties: a file the reader refuses comes with a message naming what is wrong; a file that
// opens goes into the store and the tree and out again, and what is saved then opens to the same
// project and saves to the same bytes; the tree's part comes out of the model as it went in; the
// saved file cut anywhere before its last line is refused, never read as another project.

#include "fuzz_common.h"

#include "table/project_file.h"
#include "tree/project_tree.h"

using namespace kelvara;
using kelvara::fuzz::russian;

namespace {

// The project as the window has it after opening the file, saved again.
QByteArray reopenAndSave(const Project& opened) {
    ResultStore store(russian());
    mergeProjectResults(store, opened.results);
    ClusterTreeModel model;
    fillTreeFromProject(model, opened.clusters);
    Project saved = opened;
    saved.clusters = projectClusters(model);
    FUZZ_CHECK(saved.clusters == opened.clusters, "the tree changed in the model");
    saved.results = projectResults(saved.clusters, store);
    return projectBytes(saved);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QByteArrayView bytes = fuzz::bytesOf(data, size);
    const ProjectRead read = parseProject(bytes);
    if (!read.project) {
        const QString why = projectErrorText(read.error, UiLanguage::English);
        FUZZ_CHECK(!why.isEmpty() && !projectErrorText(read.error, UiLanguage::Russian).isEmpty(),
                   fuzz::shown(why));
        return 0;
    }
    const QByteArray first = reopenAndSave(*read.project);
    const ProjectRead again = parseProject(first);
    FUZZ_CHECK(again.project, fuzz::shown(projectErrorText(again.error, UiLanguage::English)) +
                                  "\n" + fuzz::shown(QString::fromUtf8(first)));
    const QByteArray second = reopenAndSave(*again.project);
    FUZZ_CHECK(first == second, fuzz::shown(QString::fromUtf8(first)) + "\n--- then\n" +
                                    fuzz::shown(QString::fromUtf8(second)));
    FUZZ_CHECK(projectBytes(*again.project) == first, fuzz::shown(QString::fromUtf8(first)));

    // Cut short: refused, whatever was cut.
    const qsizetype lastLine = first.lastIndexOf("end\r\n");
    if (!bytes.isEmpty() && lastLine > 0) {
        const qsizetype cut = qsizetype(data[0]) * lastLine / 256;
        FUZZ_CHECK(!parseProject(QByteArrayView(first).first(cut)).project,
                   "cut at " + QByteArray::number(cut));
    }
    return 0;
}
