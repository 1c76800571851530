#include "search/deferred.h"

#include "core/textfile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QUrl>

#include <algorithm>

namespace kelvara {

HttpRequest deferredRequest(const RestTarget& target, QStringView queryText) {
    HttpRequest request = restRequest(target, queryText);
    QUrl url(QString::fromUtf8(target.endpoint));
    url.setPath(QString::fromUtf16(kDeferredSearchPath));
    request.url = url.toEncoded();
    return request;
}

HttpRequest operationRequest(const QString& operationsUrl, const QString& id,
                             const RestTarget& target) {
    QString base = operationsUrl;
    while (base.endsWith(u'/')) {
        base.chop(1);
    }
    HttpRequest request;
    request.method = HttpRequest::Method::Get;
    // The id as one path segment, whatever the service put in it.
    request.url = base.toUtf8() + "/operations/" + QUrl::toPercentEncoding(id);
    const bool keyIsOneLine = !target.apiKey.contains(u'\r') && !target.apiKey.contains(u'\n');
    if (!target.apiKey.isEmpty() && keyIsOneLine) {
        request.headers.append("Authorization: Api-Key " + target.apiKey.toUtf8());
    }
    return request;
}

OperationAnswer readOperationAnswer(const QString& json) {
    OperationAnswer answer;
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8());
    if (!doc.isObject()) {
        return answer;
    }
    const QJsonObject op = doc.object();
    const QJsonValue id = op.value(u"id");
    if (!id.isString() || id.toString().isEmpty()) {
        return answer;
    }
    answer.id = id.toString();
    if (!op.value(u"done").toBool(false)) {
        answer.kind = OperationAnswer::Kind::Pending;
        return answer;
    }
    if (const QJsonValue error = op.value(u"error"); error.isObject()) {
        answer.kind = OperationAnswer::Kind::Failed;
        answer.errorText = error.toObject().value(u"message").toString();
        return answer;
    }
    const QJsonValue response = op.value(u"response");
    if (!response.isObject()) {
        return answer;  // done, with neither: not an operation we can read
    }
    answer.kind = OperationAnswer::Kind::Done;
    answer.body = QString::fromUtf8(QJsonDocument(response.toObject()).toJson());
    return answer;
}

namespace {

// An id or a region goes into its field only when it cannot break the line apart.
bool fitsField(const QString& s) {
    return !s.isEmpty() && !s.contains(u'\t') && !s.contains(u'\n') && !s.contains(u'\r');
}

}  // namespace

std::vector<StoredOperation> parseOperations(QByteArrayView bytes) {
    std::vector<StoredOperation> out;
    const QString text = QString::fromUtf8(bytes);
    forEachLine(text, [&out](QStringView line) {
        // created, region, id, then the query: the query is the rest of the line.
        const qsizetype a = line.indexOf(u'\t');
        const qsizetype b = a < 0 ? -1 : line.indexOf(u'\t', a + 1);
        const qsizetype c = b < 0 ? -1 : line.indexOf(u'\t', b + 1);
        if (c < 0) {
            return;
        }
        bool ok = false;
        const Stamp created = line.left(a).toLongLong(&ok);
        StoredOperation op{created, line.mid(a + 1, b - a - 1).toString(),
                           line.mid(b + 1, c - b - 1).toString(), line.mid(c + 1).toString()};
        if (!ok || created < 0 || !fitsField(op.region) || !fitsField(op.id) ||
            op.query.isEmpty()) {
            return;
        }
        out.push_back(std::move(op));
    });
    return out;
}

QByteArray operationLine(const StoredOperation& op) {
    if (!fitsField(op.region) || !fitsField(op.id) || op.query.contains(u'\n') ||
        op.query.contains(u'\r') || op.query.isEmpty()) {
        return {};
    }
    return QByteArray::number(op.created) + '\t' + op.region.toUtf8() + '\t' + op.id.toUtf8() +
           '\t' + op.query.toUtf8() + '\n';
}

OperationStore::OperationStore(QString path) : path_(std::move(path)) {}

void OperationStore::load() {
    if (path_.isEmpty()) {
        return;
    }
    const ReadResult r = readWholeFile(path_, kSmallFileReadLimit * 16);
    const std::lock_guard lock(mutex_);
    operations_ = r.error || r.missing ? std::vector<StoredOperation>{} : parseOperations(r.bytes);
}

std::optional<QString> OperationStore::find(const QString& region, const QString& query,
                                            Stamp now) const {
    const std::lock_guard lock(mutex_);
    // The newest one counts: an older one may have been asked again already.
    for (auto it = operations_.rbegin(); it != operations_.rend(); ++it) {
        if (it->region == region && it->query == query) {
            if (it->created <= now && youngerThan(now, it->created, kOperationLifeMs)) {
                return it->id;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void OperationStore::add(const StoredOperation& operation) {
    const QByteArray line = operationLine(operation);
    const std::lock_guard lock(mutex_);
    operations_.push_back(operation);
    if (path_.isEmpty() || line.isEmpty()) {
        return;
    }
    // Appended at once: a program that dies the next moment still knows what it paid for.
    QFile file(path_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(line);
        file.flush();
    }
}

void OperationStore::forget(const QString& id) {
    const std::lock_guard lock(mutex_);
    std::erase_if(operations_, [&id](const StoredOperation& op) { return op.id == id; });
}

void OperationStore::compact(Stamp now) {
    const std::lock_guard lock(mutex_);
    std::erase_if(operations_, [now](const StoredOperation& op) {
        return op.created > now || !youngerThan(now, op.created, kOperationLifeMs);
    });
    if (path_.isEmpty()) {
        return;
    }
    if (operations_.empty()) {
        QFile::remove(path_);
        return;
    }
    QByteArray bytes;
    for (const StoredOperation& op : operations_) {
        bytes += operationLine(op);
    }
    writeBytesAtomically(path_, bytes);
}

std::vector<StoredOperation> OperationStore::operations() const {
    const std::lock_guard lock(mutex_);
    return operations_;
}

}  // namespace kelvara
