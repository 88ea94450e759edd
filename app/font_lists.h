// The Font page's face and style lists, from the font catalogue the stamp's
// font matching uses.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace mk::app {

// The families of the installed scalable fonts that cover the character
// set, each once, sorted ignoring case.
QStringList FontFamilies(uint8_t charSet);

// The style numbers (2 x bold + italic) the family has in the character
// set, in increasing order; empty when it is not installed.
std::vector<int> FontStyleNumbers(const QString &family, uint8_t charSet);

// The face a stored name selects: the first family that begins with the
// name (letter case ignored), or -1 when none does or the name is empty.
int FindFace(const QStringList &families, const QString &name);

// The face the stamp uses for the wish: the installed font closest to it.
QString MatchedFace(const QString &face, int32_t weight, uint8_t italic, uint8_t charSet);

}  // namespace mk::app
