#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace kelvara {

// What one answer of the service says, read from its XML text.
struct YandexAnswer {
    enum class Kind {
        Urls,          // results: the first document's URL of each group (possibly none)
        NoResults,     // error code 15, "nothing found": an answer without URLs
        ServiceError,  // any other error element; errorText holds its text
        NotXml,        // the parser rejects the text (an HTML page, a cut-off body)
        Incomplete,    // response, results or grouping is missing
    };
    Kind kind = Kind::NotXml;
    QStringList urls;  // in document order, as given
    QString errorText;
    int errorCode = 0;  // the error element's code attribute; 0 when none or not a number
};

// The walk: the root element's first child element "response"; its "error", or its "results"
// and that one's "grouping"; each "group" child of grouping, its first "doc", that one's first
// "url". Names are compared exactly.
YandexAnswer ReadYandexAnswer(QStringView xml);

}  // namespace kelvara
