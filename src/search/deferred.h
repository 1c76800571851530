#pragma once

#include "core/serp_entry.h"
#include "search/http_transport.h"
#include "search/rest_form.h"

#include <QString>
#include <QStringView>

#include <mutex>
#include <optional>
#include <vector>

namespace kelvara {

// The deferred requests of the REST form: a POST to .../v2/web/searchAsync with the body of a
// synchronous request answers an operation id; the operation, asked for at the operations
// service with the same key, is done after minutes or hours and then holds the synchronous
// answer ({"rawData": Base64 XML}) as its "response". The service keeps it for 12 hours.
inline constexpr char16_t kDeferredSearchPath[] = u"/v2/web/searchAsync";
inline constexpr qint64 kOperationLifeMs = 12LL * 60 * 60 * 1000;

// The deferred request for one query.
HttpRequest deferredRequest(const RestTarget& target, QStringView queryText);
// The poll of one operation: GET operationsUrl/operations/ID with the target's key.
HttpRequest operationRequest(const QString& operationsUrl, const QString& id,
                             const RestTarget& target);

// What one answer of the search or the operations service says about an operation.
struct OperationAnswer {
    enum class Kind {
        Pending,    // not done yet
        Done,       // done with a response: body holds it as a synchronous answer's JSON
        Failed,     // done with an error: errorText holds its message
        Malformed,  // not an operation
    };
    Kind kind = Kind::Malformed;
    QString id;
    QString body;
    QString errorText;
};
OperationAnswer readOperationAnswer(const QString& json);

// One operation the program created: when, for which region and query, and its id. The key is
// never part of it.
struct StoredOperation {
    Stamp created = 0;
    QString region;
    QString id;
    QString query;
};

// The operations file: one operation a line, "created<TAB>region<TAB>id<TAB>query", UTF-8. A line
// that cannot be read is left out; the rest are read.
std::vector<StoredOperation> parseOperations(QByteArrayView bytes);
QByteArray operationLine(const StoredOperation& operation);

// The operations of the deferred mode, kept in a file as they are created, so that a run that
// ends early (cancelled, failed, the program closed) finds them again and does not pay twice.
// Any thread may use it.
class OperationStore {
public:
    // An empty path keeps the operations in memory only.
    explicit OperationStore(QString path = {});

    // Reads the file; what cannot be read is left out. Never fails: a file that cannot be read
    // at all reads as empty.
    void load();
    // The id of an operation for this region and query younger than 12 hours.
    std::optional<QString> find(const QString& region, const QString& query, Stamp now) const;
    // Adds an operation and appends its line to the file at once.
    void add(const StoredOperation& operation);
    // An operation that was read, or that the service no longer knows: left out from now on.
    void forget(const QString& id);
    // Rewrites the file with the operations still worth keeping (not forgotten, younger than 12
    // hours); an empty file is removed.
    void compact(Stamp now);
    std::vector<StoredOperation> operations() const;

private:
    QString path_;
    mutable std::mutex mutex_;
    std::vector<StoredOperation> operations_;
};

}  // namespace kelvara
