#pragma once

#include "core/platform.h"

#include <QString>
#include <QStringList>

namespace kelvara {

// The window's texts about projects, in both interface languages; "%s" places are filled in
// order, as in the message table.
enum class ProjectText : int {
    FileMenu,
    OpenAction,
    SaveAction,
    SaveAsAction,
    OpenFilter,       // the open dialog's filter: projects, exports, all files
    SaveFilter,       // the save dialog's filter: projects
    KeepChanges,      // asked before closing or opening another file with unsaved changes
    CannotOpen,       // %s: the file, %s: why
    NotSaved,         // %s: why
    RestoreQuestion,  // %s: when the kept copy was written
    Count
};

QString projectText(ProjectText text, UiLanguage language, const QStringList& args = {});

}  // namespace kelvara
