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
        /* 32 */ {u"Undo", u"Отменить"},
        /* 33 */ {u"Redo", u"Повторить"},
        /* 34 */
        {u"Nothing was imported from \"%s\": %s.", u"Из файла \"%s\" ничего не импортировано: %s."},
        /* 35 */
        {u"it holds no table of cells separated by \";\" in rows ending with CR LF",
         u"в нём нет таблицы из ячеек, разделённых \";\", в строках, оканчивающихся CR LF"},
        /* 36 */
        {u"no header cell is exactly \"%s\"", u"ни одна ячейка заголовка не равна \"%s\""},
        /* 37 */
        {u"it holds no query row below the header",
         u"под заголовком нет ни одной строки с запросом"},
        /* 38 */
        {u"its lines end with LF alone; the import expects CR LF",
         u"его строки оканчиваются одним LF, а импорт ожидает CR LF"},
        /* 39 */ {u"it is not a text file", u"это не текстовый файл"},
        /* 40 */
        {u"Clusters: %s, queries: %s, left alone: %s",
         u"Кластеров: %s, запросов: %s, вне кластеров: %s"},
        /* 41 */ {u"Largest clusters:", u"Крупнейшие кластеры:"},
        /* 42 */ {u"%s — queries: %s", u"%s — запросов: %s"},
        /* 43 */
        {u"The CSV goes to a file with --output FILE, or to a pipe.",
         u"CSV записывается в файл с --output ФАЙЛ или в канал."},
        /* 44 */
        {u"the daily limit of requests to the service is used up (code 32). Everything fetched "
         u"so far is kept; run again when the limit renews.",
         u"исчерпан суточный лимит запросов к сервису (код 32). Всё, что уже получено, "
         u"сохранено; запустите снова, когда лимит обновится."},
        /* 45 */
        {u"the service refuses every request (code %s): \"%s\"\r\nCheck the key, the folder and "
         u"the address in the URL.",
         u"сервис отклоняет все запросы (код %s): \"%s\"\r\nПроверьте ключ, каталог и адрес в "
         u"URL."},
        /* 46 */
        {u"the service answered \"too many requests\" to every request for %s minutes. "
         u"Everything fetched so far is kept; lower the pace or the threads and run again.",
         u"сервис %s мин. отвечал на все запросы \"слишком много запросов\". Всё, что уже "
         u"получено, сохранено; уменьшите темп или число потоков и запустите снова."},
        /* 47 */
        {u"%s queries were skipped: the service refused them. Fix them and run again:",
         u"Пропущено запросов: %s, сервис их отклонил. Исправьте их и запустите снова:"},
        /* 48 */ {u"\"%s\": code %s, \"%s\"", u"\"%s\": код %s, \"%s\""},
        /* 49 */
        {u"%s requests/s, time left %s, retries %s, slow-downs %s",
         u"%s запр./с, осталось %s, повторов %s, замедлений %s"},
        /* 50 */
        {u"%s queries will be asked (%s come from the cache); at the configured pace that takes "
         u"about %s.",
         u"Будет запрошено запросов: %s (из кэша: %s); при настроенном темпе это займёт около %s."},
        /* 51 */ {u"Cost: about %s.", u"Стоимость: около %s."},
        /* 52 */ {u"Send the requests?", u"Отправить запросы?"},
        /* 53 */ {u"Threads", u"Потоков"},
        /* 54 */
        {u"Sent %s, ready %s, read %s", u"Отправлено %s, готово %s, прочитано %s"},
        /* 55 */
        {u"&File", u"&Файл"},
        /* 56 */
        {u"&Open...", u"&Открыть..."},
        /* 57 */
        {u"&Save", u"&Сохранить"},
        /* 58 */
        {u"Save &as...", u"Сохранить &как..."},
        /* 59 */
        {u"Kelvara projects and exports (*.kelvara *.csv);;Kelvara projects (*.kelvara);;"
         u"CSV exports (*.csv);;All files (*)",
         u"Проекты и экспорт Kelvara (*.kelvara *.csv);;Проекты Kelvara (*.kelvara);;"
         u"Экспорт в CSV (*.csv);;Все файлы (*)"},
        /* 60 */
        {u"Kelvara projects (*.kelvara)", u"Проекты Kelvara (*.kelvara)"},
        /* 61 */
        {u"The work has changes that are not saved. Save them?",
         u"В работе есть несохранённые изменения. Сохранить их?"},
        /* 62 */
        {u"Cannot open \"%s\": %s", u"Не удалось открыть «%s»: %s"},
        /* 63 */
        {u"The project was not saved: %s", u"Проект не сохранён: %s"},
        /* 64 */
        {u"The program did not close properly last time, and a copy of the unsaved work was kept "
         u"(%s). Restore it?\r\n\r\nNo deletes the copy.",
         u"В прошлый раз программа закрылась не как обычно, и копия несохранённой работы осталась "
         u"(%s). Восстановить её?\r\n\r\nПри ответе «Нет» копия будет удалена."},
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
