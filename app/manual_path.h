// Where the program's HTML manual lies: beside the program in the build
// folder, or in the installed tree's documentation folder.
#pragma once

#include <QString>

namespace mk::app {

// The manual's index.html for the program in `programDir`, or an empty
// string when neither place holds it.
QString ManualPathFor(const QString &programDir);

// The manual of the running program (QCoreApplication::applicationDirPath()).
QString ManualPath();

}  // namespace mk::app
