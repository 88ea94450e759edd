// Finds the HTML manual: the build copies it to manual/ beside the program,
// and an installation puts it under share/doc/mirelkanzoar/manual/, found from
// the program's own bin/ folder.
#include "manual_path.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace mk::app {

QString ManualPathFor(const QString &programDir) {
    const QDir dir(programDir);
    for (const char *relative :
         {"manual/index.html", "../share/doc/mirelkanzoar/manual/index.html"}) {
        const QFileInfo candidate(dir.filePath(QLatin1String(relative)));
        if (candidate.isFile()) return candidate.canonicalFilePath();
    }
    return {};
}

QString ManualPath() { return ManualPathFor(QCoreApplication::applicationDirPath()); }

}  // namespace mk::app
