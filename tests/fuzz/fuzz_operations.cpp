// The deferred mode's readers: the operations file and an operation answer of the service.
//
// Even first byte: the rest is an operations file. Property: every operation read writes back as
// one line that reads as the same operation, and no line read spans a line break.
// Odd first byte: the rest is an operation answer. Properties: an answer that is not Malformed
// has an id; a Done answer's body is a JSON object that the REST unwrap accepts or refuses
// without harm.

#include "fuzz_common.h"

#include "search/deferred.h"
#include "search/rest_form.h"

#include <QJsonDocument>

using namespace kelvara;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const QByteArrayView rest = fuzz::bytesOf(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        for (const StoredOperation& op : parseOperations(rest)) {
            const QByteArray line = operationLine(op);
            FUZZ_CHECK(!line.isEmpty() && line.count('\n') == 1 && line.endsWith('\n'),
                       fuzz::shown(op.query));
            const std::vector<StoredOperation> back = parseOperations(line);
            FUZZ_CHECK(back.size() == 1 && back[0].created == op.created &&
                           back[0].region == op.region && back[0].id == op.id &&
                           back[0].query == op.query,
                       line.left(300));
        }
        return 0;
    }
    const QString json = QString::fromUtf8(rest);
    const OperationAnswer answer = readOperationAnswer(json);
    if (answer.kind != OperationAnswer::Kind::Malformed) {
        FUZZ_CHECK(!answer.id.isEmpty(), fuzz::shown(json));
    }
    if (answer.kind == OperationAnswer::Kind::Done) {
        FUZZ_CHECK(QJsonDocument::fromJson(answer.body.toUtf8()).isObject(), fuzz::shown(json));
        restAnswerXml(answer.body);
    }
    return 0;
}
