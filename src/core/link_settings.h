#pragma once

#include "core/profile_file.h"

namespace kelvara {

// settings.ini, section CONFIG, key MatchBy: "url" (the default) or "host", whether results
// are compared by whole URL or by host. Any other value reads as "url".
bool settingsMatchByHost(const ProfileFile& cfg);
// Writes MatchBy; a file that never had the key and keeps the default is left without it.
void saveMatchBy(ProfileFile& cfg, bool byHost);

}  // namespace kelvara
