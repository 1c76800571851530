#pragma once

#include "core/serp_entry.h"

#include <QStringView>
#include <optional>

namespace kelvara {

// A site's main page: the first "/" after the first "//" (or, without "//", the first "/" from
// the second character on) exists and is the URL's last character.
bool isMainPage(QStringView url);

// How many of the query's result URLs are main pages; nullopt when the store does not know the
// query (a renamed or new cluster's caption).
std::optional<int> CountMainPages(const ResultStore& store, QStringView query);

}  // namespace kelvara
