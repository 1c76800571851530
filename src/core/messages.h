#pragma once

#include "core/platform.h"

#include <QString>
#include <QStringList>

namespace kelvara {

// The maker's web domain and the author's name, shown in the export footer and the about window.
inline constexpr char16_t kMakerDomain[] = u"www.tarvelo.example";
inline constexpr char16_t kAuthorName[] = u"Arvid Tarvelo";

// The messages of the program, by name; each keeps its number in the table of texts.
enum class Msg : int {
    MainCaption = 0,
    VersionCaption = 1,
    UrlLabel = 2,
    QueriesLabel = 3,
    MethodFrame = 4,
    // 5 to 8 are empty places of the table.
    ClusterButton = 9,
    Close = 10,
    ExportHeader = 11,
    ExportFooter = 12,
    Error = 13,
    NoConnection = 14,
    NotXml = 15,
    SearchError = 16,
    FetchCaption = 17,
    FetchExplanation = 18,
    FetchCount = 19,
    Cancel = 20,
    ClusteringCaption = 21,
    ClusteringExplanation = 22,
    AboutCaption = 23,
    AboutTitle = 24,
    AboutVersion = 25,
    AboutMail = 26,
    AboutCreatedBy = 27,
    AboutText = 28,
    // Details after a failed fetch's message, and the URL box's check.
    FailedQuery = 29,
    HttpStatus = 30,
    NotHttpUrl = 31,
    // The undo and redo of edits of the cluster tree.
    Undo = 32,
    Redo = 33,
    // An import that found nothing: the file, then what it lacks, with a likely cause.
    ImportNothing = 34,
    ImportNoTable = 35,
    ImportNoUrlColumn = 36,
    ImportNoQuery = 37,
    ImportLfLineEnds = 38,
    ImportNotText = 39,
    // The batch tool's summary on a terminal.
    SummaryTotals = 40,
    SummaryLargest = 41,
    SummaryCluster = 42,
    SummaryCsvHint = 43,
    // The fetch at the service's limits: the errors that end a run at once, the skipped queries,
    // the progress figures, the plan before a fetch and the threads control.
    DailyLimit = 44,
    RequestRefused = 45,
    Throttled = 46,
    SkippedQueries = 47,
    SkippedQuery = 48,
    FetchFigures = 49,
    FetchPlan = 50,
    FetchCost = 51,
    ConfirmFetch = 52,
    ThreadsLabel = 53,
    DeferredCount = 54,
    // The window's projects: the File menu, its dialogs and questions.
    FileMenu = 55,
    OpenAction = 56,
    SaveAction = 57,
    SaveAsAction = 58,
    OpenFilter = 59,
    SaveFilter = 60,
    KeepChanges = 61,
    CannotOpen = 62,
    NotSaved = 63,
    RestoreQuestion = 64,
};

inline constexpr int kMessageCount = 65;
static_assert(int(Msg::RestoreQuestion) == kMessageCount - 1, "the last message closes the table");

// The message in the given language; a number outside the table gives "".
QString GetMessageText(Msg message, UiLanguage language);

// Fills each "%s" of the pattern, in order, with the next argument; "%%" is a single "%".
// Placeholders without an argument are left empty.
QString formatMessage(const QString& pattern, const QStringList& args);

// A message filled with its arguments.
inline QString messageText(Msg message, UiLanguage language, const QStringList& args = {}) {
    return formatMessage(GetMessageText(message, language), args);
}

}  // namespace kelvara
