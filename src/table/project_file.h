#pragma once

#include "core/platform.h"
#include "core/serp_entry.h"
#include "core/textfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kelvara {

// The project file: the whole work of the window in one UTF-8 text file, so that it can be closed
// and opened again, on this machine or another, after the stored results have expired. One
// record per line, "keyword fields text", in a fixed order; docs/project-file.md describes it.
//
// The reader checks everything before it gives anything back, so a file it refuses changes
// nothing; the error names the line and what is wrong there.

inline constexpr int kProjectFormatVersion = 1;
// The extension of project files, with its dot.
inline constexpr char16_t kProjectExtension[] = u".kelvara";
// A result holding more URLs than this is refused: the service answers ten, and no import of a
// real table comes near it, while a hostile file could otherwise ask for any amount of memory.
inline constexpr qsizetype kMaxProjectUrls = 100'000;
// Larger files are refused before they are read: some fifteen times a tree of 100,000 phrases.
inline constexpr qint64 kProjectReadLimit = qint64(1) << 30;

struct ProjectPhrase {
    QString text;
    bool checked = false;
    bool operator==(const ProjectPhrase&) const = default;
};

struct ProjectCluster {
    QString caption;
    bool checked = false;
    std::vector<ProjectPhrase> phrases;
    bool operator==(const ProjectCluster&) const = default;
};

// The stored result of one phrase, under the phrase's exact text.
struct ProjectResult {
    QString query;
    Stamp stamp = 0;
    QStringList urls;  // in stored order
    bool operator==(const ProjectResult&) const = default;
};

struct Project {
    QString queries;  // the query box's text
    bool hardMethod = false;
    int threshold = 3;
    int region = 213;  // the region the tree's results were asked for
    // The project file a recovery copy stands in for; empty in a file saved by the user.
    QString origin;
    std::vector<ProjectCluster> clusters;
    std::vector<ProjectResult> results;
    bool operator==(const Project&) const = default;
};

// What is wrong with a file the reader refuses.
enum class ProjectProblem {
    NotProject,     // the first line is not the signature
    NewerVersion,   // a format this version does not know (detail: its number)
    NotUtf8,        // the line is not valid UTF-8
    Truncated,      // the file ends before its closing line
    UnknownRecord,  // detail: the keyword
    BadValue,       // detail: the field; value: what stands there
    BadText,        // a backslash not followed by \, n or r
    OutOfPlace,     // detail: the keyword
    Duplicate,      // detail: the field or the query; otherLine: where it came first
    Missing,        // detail: the field
    TooManyUrls,    // detail: the query
    AfterEnd,       // text after the closing line
};

struct ProjectError {
    ProjectProblem problem = ProjectProblem::NotProject;
    qsizetype line = 0;  // 1-based; 0 for the file as a whole
    QString detail;
    QString value;
    qsizetype otherLine = 0;
};

// The problem in words, in the interface language (the file's name is the caller's to add).
QString projectErrorText(const ProjectError& error, UiLanguage language);

struct ProjectRead {
    std::optional<Project> project;      // set when the file was read
    ProjectError error;                  // otherwise what is wrong with it
    std::optional<FileError> fileError;  // the file itself could not be read
};

// The file's bytes as a project. A UTF-8 byte-order mark (added by an editor) is skipped.
ProjectRead parseProject(QByteArrayView bytes);
// Whether the bytes begin like a project file (after an optional byte-order mark).
bool looksLikeProject(QByteArrayView bytes);
// The file: read whole (up to kProjectReadLimit), then parsed.
ProjectRead loadProject(const QString& path);

// The bytes of the file: the same project always gives the same bytes.
QByteArray projectBytes(const Project& project);
// Writes the file atomically: a failed write leaves an older file whole.
std::optional<FileError> saveProject(const QString& path, const Project& project);

// The results of the tree's phrases as the store holds them: each phrase text once, in tree
// order, with the entry the store finds for it (letter case ignored); a phrase the store does not
// know has none.
std::vector<ProjectResult> projectResults(const std::vector<ProjectCluster>& clusters,
                                          const ResultStore& store);

// Puts a project's results into the store. A query the store lacks gets the project's result; of
// a query it holds, the newer result is kept (the store's when both are as old), changed in place
// so that whatever refers to the entry stays valid. Of two results of one query (letter case
// ignored) the first counts.
void mergeProjectResults(ResultStore& store, std::vector<ProjectResult> results);

// The name a project is saved under: the extension is added unless the name has it (any case).
QString withProjectExtension(const QString& name);

}  // namespace kelvara
