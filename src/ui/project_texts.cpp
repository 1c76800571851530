#include "ui/project_texts.h"

#include "core/messages.h"

#include <array>

namespace kelvara {

namespace {

struct Text {
    const char16_t* english;
    const char16_t* russian;
};

constexpr std::array<Text, size_t(ProjectText::Count)> kTexts = {{
    {u"&File", u"&Файл"},
    {u"&Open...", u"&Открыть..."},
    {u"&Save", u"&Сохранить"},
    {u"Save &as...", u"Сохранить &как..."},
    {u"Kelvara projects and exports (*.kelvara *.csv);;Kelvara projects (*.kelvara);;"
     u"CSV exports (*.csv);;All files (*)",
     u"Проекты и экспорт Kelvara (*.kelvara *.csv);;Проекты Kelvara (*.kelvara);;"
     u"Экспорт в CSV (*.csv);;Все файлы (*)"},
    {u"Kelvara projects (*.kelvara)", u"Проекты Kelvara (*.kelvara)"},
    {u"The work has changes that are not saved. Save them?",
     u"В работе есть несохранённые изменения. Сохранить их?"},
    {u"Cannot open \"%s\": %s", u"Не удалось открыть «%s»: %s"},
    {u"The project was not saved: %s", u"Проект не сохранён: %s"},
    {u"The program did not close properly last time, and a copy of the unsaved work was kept "
     u"(%s). Restore it?\r\n\r\nNo deletes the copy.",
     u"В прошлый раз программа закрылась не как обычно, и копия несохранённой работы осталась "
     u"(%s). Восстановить её?\r\n\r\nПри ответе «Нет» копия будет удалена."},
}};

}  // namespace

QString projectText(ProjectText text, UiLanguage language, const QStringList& args) {
    const Text& t = kTexts[size_t(text)];
    return formatMessage(
        QString::fromUtf16(language == UiLanguage::Russian ? t.russian : t.english), args);
}

}  // namespace kelvara
