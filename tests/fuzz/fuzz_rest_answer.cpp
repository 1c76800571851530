// The REST form's unwrap: a JSON object whose "rawData" is the XML answer in Base64.
//
// Even first byte: the rest is a body as a server may send it. Odd first byte: the rest is the
// XML the service meant, wrapped the ways a JSON writer may write it.
// Properties: an unwrapped answer is exactly the Base64 of a "rawData" string of the body's
// object; an answer wrapped in any of the usual JSON shapes comes out exactly as it went in, and
// what comes out goes through the XML walk.

#include "fuzz_common.h"

#include "search/rest_form.h"
#include "search/yandex_answer.h"

#include <QJsonDocument>
#include <QJsonObject>

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
        const QString body = QString::fromUtf8(rest);
        const std::optional<QString> xml = restAnswerXml(body);
        if (xml) {
            const QJsonValue raw =
                QJsonDocument::fromJson(body.toUtf8()).object().value(u"rawData");
            FUZZ_CHECK(raw.isString(), fuzz::shown(body));
            const auto decoded = QByteArray::fromBase64Encoding(
                raw.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
            FUZZ_CHECK(decoded && QString::fromUtf8(*decoded) == *xml, fuzz::shown(body));
            ReadYandexAnswer(*xml);
        }
        return 0;
    }

    const QString xml = QString::fromUtf8(rest);
    const QByteArray base64 = xml.toUtf8().toBase64();
    const QJsonObject object{{u"rawData"_qs, QString::fromLatin1(base64)},
                             {u"requestId"_qs, u"0c5b0a0e-1f0e-4c9a"_qs}};
    const QByteArray shapes[] = {
        QJsonDocument(object).toJson(QJsonDocument::Compact),
        QJsonDocument(object).toJson(QJsonDocument::Indented),
        "\r\n { \"rawData\" : \"" + base64 + "\" }\r\n",
    };
    for (const QByteArray& shape : shapes) {
        const std::optional<QString> out = restAnswerXml(QString::fromUtf8(shape));
        FUZZ_CHECK(out && *out == xml, shape.left(300));
    }
    return 0;
}
