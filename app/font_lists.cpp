// The face and style lists, read through the core's font catalogue calls.
#include "font_lists.h"

#include <QByteArray>

#include "MK_Core.h"

namespace mk::app {

QStringList FontFamilies(uint8_t charSet) {
    // A family name takes at most 31 bytes and its NUL; when less than that
    // is left over, the list may have been cut short, so ask again with more.
    constexpr int32_t kLongestEntry = 32;
    QByteArray buffer(16 * 1024, '\0');
    for (;;) {
        const int32_t count = MK_FontFamilies(charSet, buffer.data(), int32_t(buffer.size()));
        QStringList families;
        qsizetype used = 0;
        for (int32_t i = 0; i < count; ++i) {
            const QByteArray name(buffer.constData() + used);
            families.append(QString::fromUtf8(name));
            used += name.size() + 1;
        }
        if (used + kLongestEntry + 1 < buffer.size() || buffer.size() >= (1 << 24)) {
            return families;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::vector<int> FontStyleNumbers(const QString &family, uint8_t charSet) {
    const int32_t styles = MK_FontStyles(family.toUtf8().constData(), charSet);
    std::vector<int> numbers;
    for (int style = 0; style < 4; ++style) {
        if ((styles & (1 << style)) != 0) numbers.push_back(style);
    }
    return numbers;
}

int FindFace(const QStringList &families, const QString &name) {
    if (name.isEmpty()) return -1;
    for (qsizetype i = 0; i < families.size(); ++i) {
        if (families[i].startsWith(name, Qt::CaseInsensitive)) return int(i);
    }
    return -1;
}

QString MatchedFace(const QString &face, int32_t weight, uint8_t italic, uint8_t charSet) {
    MK_LogFont font{};
    MK_SeekFont(nullptr, weight, italic, charSet, face.toUtf8().constData(), &font);
    font.lfFaceName[sizeof font.lfFaceName - 1] = '\0';
    return QString::fromUtf8(font.lfFaceName);
}

}  // namespace mk::app
