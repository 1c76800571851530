#include "core/link_settings.h"

namespace kelvara {

namespace {
constexpr char16_t kSection[] = u"CONFIG";
constexpr char16_t kKey[] = u"MatchBy";
}  // namespace

bool settingsMatchByHost(const ProfileFile& cfg) {
    return cfg.readString(kSection, kKey).trimmed().compare(u"host", Qt::CaseInsensitive) == 0;
}

void saveMatchBy(ProfileFile& cfg, bool byHost) {
    if (!byHost && !cfg.value(kSection, kKey)) {
        return;
    }
    cfg.writeString(kSection, kKey, byHost ? QStringLiteral("host") : QStringLiteral("url"));
}

}  // namespace kelvara
