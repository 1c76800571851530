// The XML answer walk of the search worker, over any body a server may send with status 200.
//
// The input is the body's bytes, decoded as the transport decodes them (UTF-8, invalid sequences
// replaced). Properties: only an answer with results carries URLs, none of them empty or with
// blanks around it; the same body wrapped in the REST form gives the same answer; an answer
// written back as XML from its URLs reads as the same URLs.

#include "fuzz_common.h"

#include "search/rest_form.h"
#include "search/yandex_answer.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace kelvara;

namespace {

QByteArray describe(const YandexAnswer& a) {
    QByteArray out = "kind " + QByteArray::number(int(a.kind)) + ", error " +
                     fuzz::shown(a.errorText) + ", urls:";
    for (const QString& u : a.urls) {
        out += ' ' + fuzz::shown(u);
    }
    return out;
}

bool same(const YandexAnswer& a, const YandexAnswer& b) {
    return a.kind == b.kind && a.urls == b.urls && a.errorText == b.errorText;
}

// Character data as XML text; controls as references, so that no line end is normalised.
QString escapedText(QStringView text) {
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
            case u'<':
                out += u"&lt;";
                break;
            case u'>':
                out += u"&gt;";
                break;
            case u'&':
                out += u"&amp;";
                break;
            default:
                if (c.unicode() < 0x20) {
                    out += u"&#"_qs + QString::number(c.unicode()) + u';';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useRussianLocale();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QByteArrayView bytes = fuzz::bytesOf(data, size);
    const QString body = QString::fromUtf8(bytes);
    const YandexAnswer answer = ReadYandexAnswer(body);

    if (answer.kind == YandexAnswer::Kind::Urls) {
        for (const QString& u : answer.urls) {
            FUZZ_CHECK(!u.isEmpty() && u.trimmed() == u, describe(answer));
        }
    } else {
        FUZZ_CHECK(answer.urls.isEmpty(), describe(answer));
    }
    if (answer.kind != YandexAnswer::Kind::ServiceError) {
        FUZZ_CHECK(answer.errorText.isEmpty(), describe(answer));
    }

    // The REST form carries the same XML in Base64: the same answer.
    const QByteArray wrapped =
        QJsonDocument(QJsonObject{{u"rawData"_qs, QString::fromLatin1(body.toUtf8().toBase64())}})
            .toJson(QJsonDocument::Compact);
    const std::optional<QString> inner = restAnswerXml(QString::fromUtf8(wrapped));
    FUZZ_CHECK(inner.has_value() && *inner == body, "REST unwrap");
    const YandexAnswer viaRest = ReadYandexAnswer(*inner);
    FUZZ_CHECK(same(viaRest, answer), describe(viaRest) + " instead of " + describe(answer));

    // The URLs written back into a plain answer come back as they are.
    if (answer.kind == YandexAnswer::Kind::Urls) {
        QString xml =
            u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<yandexsearch><response>"
            u"<results><grouping>"_qs;
        for (const QString& u : answer.urls) {
            xml += u"<group><doc><url>"_qs + escapedText(u) + u"</url></doc></group>"_qs;
        }
        xml += u"</grouping></results></response></yandexsearch>"_qs;
        const YandexAnswer again = ReadYandexAnswer(xml);
        FUZZ_CHECK(same(again, answer), describe(again) + " instead of " + describe(answer));
    }
    return 0;
}
