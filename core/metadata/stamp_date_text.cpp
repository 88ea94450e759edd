// The stamp text: the selected date formatted by the settings' pictures.
#include "metadata/stamp_date.h"

namespace mk::metadata {

void MakeStampText(const char *path, uint32_t flags, const DateFormatSpec *spec, char *text) {
    if (text == nullptr) return;
    text[0] = '\0';
    if (spec == nullptr) return;
    const MK_SystemTime date = SelectStampDate(path, flags);
    MK_FormatDateTime(&date, spec, text);
}

}  // namespace mk::metadata
