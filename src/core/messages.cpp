#include "core/messages.h"

#include <array>

namespace kelvara {

namespace {

struct Message {
    const char16_t* english;
    const char16_t* russian;
};

// The place in the table is the message's number (see Msg).
const std::array<Message, kMessageCount>& table() {
    static const std::array<Message, kMessageCount> t = {{
        /* 0 */ {u"Query Kelvara", u"Kelvara запросов"},
        /* 1 */ {u"Tarvelo Kelvara %s", u"Tarvelo Kelvara %s"},
        /* 2 */
        {u"URL for requests to the \"Yandex.xml\" service",
         u"URL для запросов к сервису Яндекс.XML"},
        /* 3 */ {u"Queries for clustering: %s", u"Запросы для кластеризации: %s"},
        /* 4 */ {u" Method of clustering ", u" Метод кластеризации "},
        /* 5 */ {u"", u""},
        /* 6 */ {u"", u""},
        /* 7 */ {u"", u""},
        /* 8 */ {u"", u""},
        /* 9 */ {u"Cluster", u"Кластеризовать"},
        /* 10 */ {u"Close", u"Закрыть"},
        /* 11 */
        {u"Query clustering result\r\n\r\nGroup;Query;Main page",
         u"Результат кластеризации запросов\r\n\r\nГруппа;Запрос;Главных"},
        /* 12 */ {u"\r\nClustered with ", u"\r\nКластеризованно при помощи "},
        /* 13 */ {u"Error: %s", u"Ошибка: %s"},
        /* 14 */
        {u"failed to establish connection to the service, Yandex",
         u"не удалось установить подключение к сервису Яндекс"},
        /* 15 */
        {u"the answer from Yandex is not a valid XML",
         u"ответ от Яндекс не является корректным XML"},
        /* 16 */
        {u"Yandex returned a search error:\r\n\"%s\"", u"Яндекс вернул ошибку поиска:\r\n\"%s\""},
        /* 17 */ {u"Query processing", u"Обработка запросов"},
        /* 18 */
        {u"Please wait until it completes processing of queries to Yandex.XML",
         u"Пожалуйста, дождитесь пока не будет завершена обработка запросов к сервису "
         u"Яндекс.XML"},
        /* 19 */ {u"Processed requests %s from %s", u"Обработанно запросов %s из %s"},
        /* 20 */ {u"Cancel", u"Отмена"},
        /* 21 */ {u"Clustering", u"Кластеризация"},
        /* 22 */
        {u"Please wait until query clustering is completed.",
         u"Пожалуйста, дождитесь пока не будет завершена кластеризация"},
        /* 23 */ {u"About the program", u"О программе"},
        /* 24 */ {u"Tarvelo Kelvara", u"Tarvelo Kelvara"},
        /* 25 */ {u"Version %s", u"Версия %s"},
        /* 26 */ {u"E-mail: write a message...", u"E-mail: написать сообщение..."},
        /* 27 */ {u"created by ", u"created by "},
        /* 28 */ {u"The program for clustering queries.", u"Программа для кластеризации запросов."},
        /* 29 */ {u"Query: \"%s\"", u"Запрос: \"%s\""},
        /* 30 */ {u"HTTP status: %s", u"Код ответа HTTP: %s"},
        /* 31 */
        {u"The service URL must begin with http:// or https://; this one begins with \"%s\".",
         u"URL сервиса должен начинаться с http:// или https://, а этот начинается с \"%s\"."},
        /* 32 */
        {u"the daily limit of requests to the service is used up (code 32). Everything fetched "
         u"so far is kept; run again when the limit renews.",
         u"исчерпан суточный лимит запросов к сервису (код 32). Всё, что уже получено, "
         u"сохранено; запустите снова, когда лимит обновится."},
        /* 33 */
        {u"the service refuses every request (code %s): \"%s\"\r\nCheck the key, the folder and "
         u"the address in the URL.",
         u"сервис отклоняет все запросы (код %s): \"%s\"\r\nПроверьте ключ, каталог и адрес в "
         u"URL."},
        /* 34 */
        {u"the service answered \"too many requests\" to every request for %s minutes. "
         u"Everything fetched so far is kept; lower the pace or the threads and run again.",
         u"сервис %s мин. отвечал на все запросы \"слишком много запросов\". Всё, что уже "
         u"получено, сохранено; уменьшите темп или число потоков и запустите снова."},
        /* 35 */
        {u"%s queries were skipped: the service refused them. Fix them and run again:",
         u"Пропущено запросов: %s, сервис их отклонил. Исправьте их и запустите снова:"},
        /* 36 */ {u"\"%s\": code %s, \"%s\"", u"\"%s\": код %s, \"%s\""},
        /* 37 */
        {u"%s requests/s, time left %s, retries %s, slow-downs %s",
         u"%s запр./с, осталось %s, повторов %s, замедлений %s"},
        /* 38 */
        {u"%s queries will be asked (%s come from the cache); at the configured pace that takes "
         u"about %s.",
         u"Будет запрошено запросов: %s (из кэша: %s); при настроенном темпе это займёт около %s."},
        /* 39 */ {u"Cost: about %s.", u"Стоимость: около %s."},
        /* 40 */ {u"Send the requests?", u"Отправить запросы?"},
        /* 41 */ {u"Threads", u"Потоков"},
        /* 42 */
        {u"Sent %s, ready %s, read %s", u"Отправлено %s, готово %s, прочитано %s"},
    }};
    return t;
}

}  // namespace

QString GetMessageText(Msg message, UiLanguage language) {
    const int n = int(message);
    if (n < 0 || n >= kMessageCount) {
        return {};
    }
    const Message& m = table()[size_t(n)];
    QString text = QString::fromUtf16(language == UiLanguage::Russian ? m.russian : m.english);
    if (message == Msg::ExportFooter) {
        text += QString::fromUtf16(kMakerDomain);
    } else if (message == Msg::AboutCreatedBy) {
        text += QString::fromUtf16(kAuthorName);
    }
    return text;
}

QString formatMessage(const QString& pattern, const QStringList& args) {
    QString out;
    out.reserve(pattern.size() + 16);
    qsizetype next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('%') && i + 1 < pattern.size()) {
            const QChar d = pattern[i + 1];
            if (d == QLatin1Char('s')) {
                if (next < args.size()) {
                    out += args[next];
                }
                ++next;
                ++i;
                continue;
            }
            if (d == QLatin1Char('%')) {
                out += QLatin1Char('%');
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace kelvara
