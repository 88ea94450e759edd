// Splitting of Windows date and time pictures into element runs and literal
// text.
#include "metadata/picture_tokens.h"

namespace mk::metadata {

std::vector<PictureToken> TokenizePicture(std::string_view picture, std::string_view elements) {
    std::vector<PictureToken> tokens;
    auto literal = [&tokens](std::string_view text) {
        if (tokens.empty() || tokens.back().letter != 0) tokens.push_back({});
        tokens.back().text += text;
    };
    size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (c == '\'') {
            if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                literal("'");
                i += 2;
                continue;
            }
            const size_t start = ++i;
            std::string text;
            while (i < picture.size()) {
                if (picture[i] == '\'') {
                    if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                        text += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += picture[i++];
            }
            // Even an empty quoted text ends a letter run ("d''d" is two days).
            if (i > start) literal(text);
            continue;
        }
        if (elements.find(c) != std::string_view::npos) {
            size_t j = i;
            while (j < picture.size() && picture[j] == c) ++j;
            tokens.push_back({c, static_cast<int>(j - i), std::string(picture.substr(i, j - i))});
            i = j;
            continue;
        }
        literal(picture.substr(i, 1));
        ++i;
    }
    return tokens;
}

}  // namespace mk::metadata
