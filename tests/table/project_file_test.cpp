#include "table/project_file.h"

#include "clustering/cluster.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace kelvara;

namespace {

// A project with everything a file must carry: Cyrillic, the three escaped characters, empty
// texts, checks at both levels, a query twice, a result without URLs and one of a phrase the store
// answered in another letter case.
Project sample() {
    Project p;
    p.queries = u"купить окна\nокна пвх\n\nback\\slash\r\n"_qs;
    p.hardMethod = true;
    p.threshold = 7;
    p.region = 2;
    p.clusters = {
        {u"окна пвх"_qs, true, {{u"купить окна"_qs, true}, {u"окна пвх"_qs, false}}},
        {u""_qs, false, {}},
        {u"two\nlines; and \\ (3);"_qs, false, {{u"back\\slash\r"_qs, true}}},
        {unsortedCaption(), false, {{u"ничего"_qs, false}, {u"купить окна"_qs, false}}},
    };
    p.results = {
        {u"купить окна"_qs, 63'850'000'000'000, {u"http://a.ru/"_qs, u"http://b.ru/x"_qs}},
        {u"окна пвх"_qs, -5, {u""_qs, u"http://окна.рф/"_qs}},
        {u"back\\slash\r"_qs, 0, {}},
    };
    return p;
}

ProjectError errorOf(const QByteArray& bytes) {
    const ProjectRead r = parseProject(bytes);
    EXPECT_FALSE(r.project) << bytes.left(200).toStdString();
    return r.error;
}

QByteArray minimal(const QByteArray& body) {
    return "kelvara-project 1\r\nmethod soft\r\nthreshold 3\r\nregion 213\r\n" + body + "end\r\n";
}

}  // namespace

TEST(ProjectFile, RoundTripKeepsEverythingAndTheBytes) {
    const Project p = sample();
    const QByteArray bytes = projectBytes(p);
    const ProjectRead r = parseProject(bytes);
    ASSERT_TRUE(r.project) << projectErrorText(r.error, UiLanguage::English).toStdString();
    EXPECT_EQ(*r.project, p);
    EXPECT_EQ(projectBytes(*r.project), bytes);
    // UTF-8, one record per line; what a reader of the documentation expects to see.
    EXPECT_TRUE(
        bytes.startsWith("kelvara-project 1\r\nmethod hard\r\nthreshold 7\r\nregion 2\r\n"
                         "query купить окна\r\nquery окна пвх\r\nquery\r\n"
                         "query back\\\\slash\\r\r\nquery\r\n"
                         "cluster + окна пвх\r\nphrase + купить окна\r\n"));
    EXPECT_TRUE(bytes.contains("cluster -\r\ncluster - two\\nlines; and \\\\ (3);\r\n"));
    EXPECT_TRUE(bytes.contains("result -5 окна пвх\r\nurl\r\nurl http://окна.рф/\r\n"));
    EXPECT_TRUE(bytes.endsWith("result 0 back\\\\slash\\r\r\nend\r\n"));

    // An editor's byte-order mark and LF line ends change nothing.
    QByteArray edited = "\xEF\xBB\xBF" + bytes;
    edited.replace("\r\n", "\n");
    const ProjectRead again = parseProject(edited);
    ASSERT_TRUE(again.project);
    EXPECT_EQ(*again.project, p);

    // A recovery copy names the project it stands in for.
    Project copy = p;
    copy.origin = u"/home/анна/работа.kelvara"_qs;
    EXPECT_EQ(parseProject(projectBytes(copy)).project, copy);
}

TEST(ProjectFile, SaveAndLoadThroughTheFile) {
    test::TempDir dir;
    const QString path = dir.path(u"работа.kelvara"_qs);
    ASSERT_FALSE(saveProject(path, sample()));
    const ProjectRead r = loadProject(path);
    ASSERT_TRUE(r.project);
    EXPECT_EQ(*r.project, sample());

    EXPECT_TRUE(loadProject(dir.path(u"missing.kelvara"_qs)).fileError);
    // A failed write names the file and leaves nothing half-written.
    const std::optional<FileError> e = saveProject(dir.root(), sample());
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->message().contains(dir.root()));
}

TEST(ProjectFile, ResultsOfNoPhraseArePassedOverAndAPhraseMayRepeat) {
    // The query box may hold a query twice, and the run then gives the tree the phrase twice:
    // a project of such a tree must open.
    const QByteArray bytes = minimal(
        "cluster - A\r\nphrase - q\r\ncluster - B\r\nphrase + q\r\n"
        "result 5 q\r\nurl u1\r\nresult 6 gone\r\nurl u2\r\n");
    const ProjectRead r = parseProject(bytes);
    ASSERT_TRUE(r.project);
    ASSERT_EQ(r.project->results.size(), 1u);
    EXPECT_EQ(r.project->results[0].query, u"q"_qs);
    EXPECT_EQ(r.project->clusters[1].phrases[0], (ProjectPhrase{u"q"_qs, true}));
}

TEST(ProjectFile, BadFilesAreRefusedNamingTheLine) {
    QByteArray millionUrls = "result 1 q\r\n";
    for (qsizetype i = 0; i <= kMaxProjectUrls; ++i) {
        millionUrls += "url http://u.ru/\r\n";
    }
    QByteArray nested(100'000, '[');
    struct Case {
        const char* what;
        QByteArray bytes;
        ProjectProblem problem;
        qsizetype line;
        const char* says;  // part of the English message
    };
    const Case cases[] = {
        {"empty", "", ProjectProblem::NotProject, 1, "not a Kelvara project"},
        {"binary", QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11), ProjectProblem::NotProject, 1,
         "line 1"},
        {"deep nesting", nested, ProjectProblem::NotProject, 1, "not a Kelvara project"},
        {"another program's text", "kelvara-projectile 1\r\n", ProjectProblem::NotProject, 1, ""},
        {"newer", "kelvara-project 2\r\nwhatever comes in format 2\r\n",
         ProjectProblem::NewerVersion, 1, "newer version of Kelvara (format 2"},
        {"bad version", "kelvara-project one\r\n", ProjectProblem::BadValue, 1, "\"one\""},
        {"cut short", minimal("cluster - A\r\nphrase - a\r\n").chopped(5),
         ProjectProblem::Truncated, 6, "ends at line 6"},
        {"cut inside a character", QByteArray("kelvara-project 1\r\nquery \xD0"),
         ProjectProblem::NotUtf8, 2, "line 2: the text is not UTF-8"},
        {"not UTF-8", minimal("cluster - \xCE\xEA\xED\xE0\r\n"), ProjectProblem::NotUtf8, 5,
         "UTF-8"},
        {"field twice", "kelvara-project 1\r\nmethod soft\r\nmethod hard\r\n",
         ProjectProblem::Duplicate, 3, "\"method\" is given a second time (first at line 2)"},
        {"field missing", "kelvara-project 1\r\nmethod soft\r\nregion 1\r\nend\r\n",
         ProjectProblem::Missing, 0, "lacks the field \"threshold\""},
        {"bad method", minimal("").replace("soft", "Soft"), ProjectProblem::BadValue, 2,
         "\"Soft\" is not a valid value of \"method\""},
        {"threshold 11", minimal("").replace("threshold 3", "threshold 11"),
         ProjectProblem::BadValue, 3, "threshold"},
        {"phrase first", minimal("phrase - a\r\n"), ProjectProblem::OutOfPlace, 5,
         "\"phrase\" is out of place"},
        {"url outside a result", minimal("cluster - A\r\nurl x\r\n"), ProjectProblem::OutOfPlace, 6,
         "\"url\""},
        {"query after the tree", minimal("cluster - A\r\nquery q\r\n"), ProjectProblem::OutOfPlace,
         6, "\"query\""},
        {"header after the queries", minimal("query q\r\nregion 2\r\n"), ProjectProblem::OutOfPlace,
         6, "\"region\""},
        {"unknown record", minimal("cluster - A\r\nbranch - b\r\n"), ProjectProblem::UnknownRecord,
         6, "unknown record \"branch\""},
        {"bad check", minimal("cluster * A\r\n"), ProjectProblem::BadValue, 5, "cluster"},
        {"bad escape", minimal("cluster - a\\tb\r\n"), ProjectProblem::BadText, 5, "backslash"},
        {"bad stamp", minimal("cluster - A\r\nphrase - a\r\nresult 1.5 a\r\n"),
         ProjectProblem::BadValue, 7, "\"1.5\""},
        {"result twice", minimal("cluster - A\r\nphrase - a\r\nresult 1 a\r\nresult 2 a\r\n"),
         ProjectProblem::Duplicate, 8, "\"a\" is given a second time (first at line 7)"},
        {"a million URLs", minimal("cluster - A\r\nphrase - q\r\n" + millionUrls),
         ProjectProblem::TooManyUrls, 7 + kMaxProjectUrls + 1, "more than 100000 URLs"},
        {"after the end", minimal("") + "\r\ncluster - A\r\n", ProjectProblem::AfterEnd, 7,
         "after the closing line"},
    };
    for (const Case& c : cases) {
        const ProjectError e = errorOf(c.bytes);
        EXPECT_EQ(e.problem, c.problem) << c.what;
        EXPECT_EQ(e.line, c.line) << c.what;
        const QString text = projectErrorText(e, UiLanguage::English);
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.says)))
            << c.what << ": " << text.toStdString();
        EXPECT_FALSE(projectErrorText(e, UiLanguage::Russian).isEmpty());
    }
    EXPECT_EQ(projectErrorText(errorOf("kelvara-project 1\r\nmethod x\r\n"), UiLanguage::Russian),
              u"строка 2: «x» не годится как значение поля «method»"_qs);
}

TEST(ProjectFile, ResultsComeFromTheStoreAndGoBackIntoIt) {
    ResultStore store;
    auto entry = [](Stamp stamp, const QStringList& urls) {
        auto e = std::make_unique<TSerpEntry>(stamp);
        for (const QString& u : urls) {
            e->Urls.add(u);
        }
        return e;
    };
    store.add(u"Окна"_qs, entry(10, {u"http://b.ru/"_qs, u"http://a.ru/"_qs}));
    store.add(u"двери"_qs, entry(20, {}));
    const std::vector<ProjectCluster> tree = {
        {u"c"_qs, false, {{u"окна"_qs, false}, {u"двери"_qs, false}, {u"чай"_qs, false}}},
        {u"d"_qs, false, {{u"окна"_qs, false}}}};
    const std::vector<ProjectResult> results = projectResults(tree, store);
    // Each phrase once, under its own text, with the entry the store finds in any letter case,
    // in the store's order.
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], (ProjectResult{u"двери"_qs, 20, {}}));
    EXPECT_EQ(results[1],
              (ProjectResult{u"окна"_qs, 10, {u"http://a.ru/"_qs, u"http://b.ru/"_qs}}));

    // Into a store that holds one of them newer, one older, and lacks the third: the newer result
    // stays, in the very entry the store had.
    for (const int extra : {0, 100}) {  // one by one, and merged in bulk
        SCOPED_TRACE(extra);
        ResultStore target;
        target.add(u"окна"_qs, entry(50, {u"http://new.ru/"_qs}));
        target.add(u"ДВЕРИ"_qs, entry(5, {u"http://old.ru/"_qs}));
        const TSerpEntry* doors = findEntry(target, u"двери");
        std::vector<ProjectResult> incoming = results;
        incoming.push_back({u"новый"_qs, 7, {u"http://n.ru/"_qs}});
        incoming.push_back({u"НОВЫЙ"_qs, 8, {u"http://second.ru/"_qs}});  // the first counts
        for (int i = 0; i < extra; ++i) {
            incoming.push_back({QStringLiteral("запрос %1").arg(i), i, {}});
        }
        mergeProjectResults(target, incoming);
        EXPECT_EQ(target.size(), 3 + extra);
        EXPECT_EQ(findEntry(target, u"окна")->Stamp, 50);
        EXPECT_EQ(findEntry(target, u"двери"), doors);
        EXPECT_EQ(doors->Stamp, 20);
        EXPECT_EQ(doors->Urls.size(), 0);
        EXPECT_EQ(findEntry(target, u"новый")->Urls.texts(), QStringList{u"http://n.ru/"_qs});
        for (qsizetype i = 1; i < target.size(); ++i) {
            EXPECT_LT(target.collation().compare(target.text(i - 1), target.text(i)), 0);
        }
    }
}

TEST(ProjectFile, ExtensionIsAddedUnlessPresent) {
    EXPECT_EQ(withProjectExtension(u"/a/work"_qs), u"/a/work.kelvara"_qs);
    EXPECT_EQ(withProjectExtension(u"/a/work.KELVARA"_qs), u"/a/work.KELVARA"_qs);
    EXPECT_EQ(withProjectExtension(u"/a.kelvara/work"_qs), u"/a.kelvara/work.kelvara"_qs);
}
