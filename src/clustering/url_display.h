#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace kelvara {

// The text the URL list shows for a result URL. A main page "http://xn--.../" or
// "https://xn--.../" (exactly so, lower case) shows the scheme and the decoded host name without
// the final "/". Such a URL with more after the host shows the scheme, the decoded host and the
// rest of the address unchanged. Any other URL is shown as it is.
QString urlDisplayText(QStringView url);

// Whether a text may be handed to the browser: an absolute http or https address with a host.
// The URLs come from a remote service or an imported file, so nothing else (file:, javascript:,
// a program's path) is ever opened.
bool isOpenableUrl(QStringView text);

// What a click on a listed row opens: the display text from its first "h" on, when that is an
// openable address; nothing otherwise.
std::optional<QString> addressToOpen(QStringView displayText);

}  // namespace kelvara
