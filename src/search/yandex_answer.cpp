#include "search/yandex_answer.h"

#include <pugixml.hpp>

#include <cstring>

namespace kelvara {

namespace {

pugi::xml_node firstChildElement(pugi::xml_node parent, const char* name) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && std::strcmp(c.name(), name) == 0) {
            return c;
        }
    }
    return {};
}

// The text of every character-data node below `node`, in document order. A loop, not a
// recursion: an answer may nest elements far deeper than the stack could follow.
void appendText(pugi::xml_node node, QByteArray& out) {
    pugi::xml_node c = node.first_child();
    while (c) {
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
            out.append(c.value());
        } else if (c.type() == pugi::node_element && c.first_child()) {
            c = c.first_child();
            continue;
        }
        while (!c.next_sibling()) {
            c = c.parent();
            if (c == node) {
                return;
            }
        }
        c = c.next_sibling();
    }
}

// The element's text content. Surrounding white space is dropped: a pretty-printed answer puts
// line breaks around a URL that are no part of it.
QString textContent(pugi::xml_node node) {
    QByteArray utf8;
    appendText(node, utf8);
    return QString::fromUtf8(utf8).trimmed();
}

}  // namespace

YandexAnswer ReadYandexAnswer(QStringView xml) {
    YandexAnswer answer;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(xml.utf16(), size_t(xml.size()) * sizeof(char16_t), pugi::parse_default,
                        pugi::encoding_utf16);
    if (!parsed) {
        answer.kind = YandexAnswer::Kind::NotXml;
        return answer;
    }
    const pugi::xml_node response = firstChildElement(doc.document_element(), "response");
    if (const pugi::xml_node error = firstChildElement(response, "error")) {
        const QString code = QString::fromUtf8(error.attribute("code").value()).trimmed();
        bool numeric = false;
        const int value = code.toInt(&numeric);
        answer.errorCode = numeric && value > 0 ? value : 0;
        if (code == u"15") {
            answer.kind = YandexAnswer::Kind::NoResults;
        } else {
            answer.kind = YandexAnswer::Kind::ServiceError;
            answer.errorText = textContent(error);
        }
        return answer;
    }
    const pugi::xml_node grouping =
        firstChildElement(firstChildElement(response, "results"), "grouping");
    if (!grouping) {
        answer.kind = YandexAnswer::Kind::Incomplete;
        return answer;
    }
    answer.kind = YandexAnswer::Kind::Urls;
    for (pugi::xml_node group = grouping.first_child(); group; group = group.next_sibling()) {
        if (group.type() != pugi::node_element || std::strcmp(group.name(), "group") != 0) {
            continue;
        }
        const pugi::xml_node url = firstChildElement(firstChildElement(group, "doc"), "url");
        if (!url) {
            continue;
        }
        // An empty url element names no page; it would only put an empty line in the store.
        QString text = textContent(url);
        if (!text.isEmpty()) {
            answer.urls.append(std::move(text));
        }
    }
    return answer;
}

}  // namespace kelvara
