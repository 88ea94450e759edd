// Locale data over ICU: Windows locale identifiers, the installed locales and
// their names, their date and time pictures converted to the Windows picture
// syntax, and the character set of their scripts.
#include "metadata/locale_data.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>
#include <unicode/ures.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <set>

#include "metadata/picture_tokens.h"

namespace mk::metadata {
namespace {

constexpr size_t kMaxPicture = 63;

std::string ToUtf8(const icu::UnicodeString &text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// True when ICU has data of its own for the locale or one of its parents,
// not only the root or default locale it falls back to.
bool HasLocaleData(const char *name) {
    UErrorCode status = U_ZERO_ERROR;
    icu::LocalUResourceBundlePointer bundle(ures_open(nullptr, name, &status));
    return U_SUCCESS(status) && status != U_USING_DEFAULT_WARNING;
}

std::string UserDefaultLocale() {
    const icu::Locale &def = icu::Locale::getDefault();
    const std::string language = def.getLanguage();
    // The variant (e.g. en_US_POSIX from a "C" environment) and keywords are
    // dropped: they pick formats for programs, not for people.
    if (language.empty() || language == "root") return "en_US";
    std::string name = language;
    if (*def.getScript() != '\0') name += std::string("_") + def.getScript();
    if (*def.getCountry() != '\0') name += std::string("_") + def.getCountry();
    return HasLocaleData(name.c_str()) ? name : "en_US";
}

std::string DisplayName(const char *locale, const char *displayLocale) {
    std::array<UChar, 256> buffer{};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_getDisplayName(locale, displayLocale, buffer.data(),
                                               static_cast<int32_t>(buffer.size()), &status);
    if (U_FAILURE(status) || length <= 0) return {};
    return ToUtf8(icu::UnicodeString(buffer.data(), std::min<int32_t>(length, buffer.size())));
}

std::string LanguageTag(const char *locale) {
    std::array<char, ULOC_FULLNAME_CAPACITY> buffer{};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_toLanguageTag(locale, buffer.data(),
                                              static_cast<int32_t>(buffer.size()), false, &status);
    if (U_FAILURE(status) || length <= 0 || status == U_STRING_NOT_TERMINATED_WARNING) return {};
    return std::string(buffer.data(), length);
}

std::vector<LocaleEntry> BuildLocaleList() {
    std::vector<LocaleEntry> list;
    std::set<uint32_t> seen;
    const int32_t count = uloc_countAvailable();
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t id = uloc_getLCID(uloc_getAvailable(i));
        // Only specific locales, as the system's locale enumeration lists
        // them: no neutral languages (sublanguage 0), no sort identifiers.
        if (id == 0 || id > 0xFFFF || (id >> 10) == 0 || (id & 0x3FF) == 0) continue;
        if (!seen.insert(id).second) continue;
        // The entry is described by the locale the formatter will use.
        const auto name = IcuLocaleForLcid(id);
        if (!name || uloc_getLCID(name->c_str()) != id) continue;
        LocaleEntry entry;
        entry.localeId = static_cast<uint16_t>(id);
        entry.icuName = *name;
        entry.charSet = CharSetForLocale(name->c_str());
        entry.tag = LanguageTag(name->c_str());
        entry.englishName = DisplayName(name->c_str(), "en");
        entry.nativeName = DisplayName(name->c_str(), name->c_str());
        if (entry.englishName.empty() || entry.nativeName.empty()) continue;
        list.push_back(std::move(entry));
    }
    std::sort(list.begin(), list.end(), [](const LocaleEntry &a, const LocaleEntry &b) {
        return a.englishName != b.englishName ? a.englishName < b.englishName
                                              : a.localeId < b.localeId;
    });
    return list;
}

// --- Windows picture helpers ---------------------------------------------

constexpr std::string_view kAllElements = "dMyghHmst";

// Appends literal text to a Windows picture, in quotes when it holds letters
// (which could be taken for elements) or quotes.
void AppendLiteral(std::string &out, std::string_view text) {
    bool quote = false;
    for (int32_t i = 0; i < static_cast<int32_t>(text.size()) && !quote;) {
        UChar32 c;
        U8_NEXT(text.data(), i, static_cast<int32_t>(text.size()), c);
        quote = c == '\'' || (c >= 0 && u_isalpha(c));
    }
    if (!quote) {
        out += text;
        return;
    }
    out += '\'';
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
}

std::string Serialize(const std::vector<PictureToken> &tokens) {
    std::string out;
    for (const auto &t : tokens) {
        if (t.letter == 0)
            AppendLiteral(out, t.text);
        else
            out.append(static_cast<size_t>(t.count), t.letter);
    }
    return out;
}

// Builds a token list in which a dropped field takes the separator in front
// of it along, or the one after it when nothing precedes it.
class TokenBuilder {
  public:
    void Literal(std::string_view text) {
        if (text.empty()) return;
        if (dropNextLiteral_) return;
        if (tokens_.empty() || tokens_.back().letter != 0) tokens_.push_back({});
        tokens_.back().text += text;
    }
    void Element(char letter, int count) {
        dropNextLiteral_ = false;
        tokens_.push_back({letter, count, std::string(static_cast<size_t>(count), letter)});
    }
    void Drop() {
        const bool elementBefore = std::any_of(tokens_.begin(), tokens_.end(),
                                               [](const PictureToken &t) { return t.letter; });
        if (elementBefore) {
            if (tokens_.back().letter == 0) tokens_.pop_back();
        } else {
            dropNextLiteral_ = true;
        }
    }
    std::vector<PictureToken> Take() {
        // Spaces left at either end by dropped fields.
        if (!tokens_.empty() && tokens_.front().letter == 0) {
            auto &t = tokens_.front().text;
            t.erase(0, std::min(t.find_first_not_of(' '), t.size()));
        }
        if (!tokens_.empty() && tokens_.back().letter == 0) {
            auto &t = tokens_.back().text;
            const size_t last = t.find_last_not_of(' ');
            t.erase(last == std::string::npos ? 0 : last + 1);
        }
        std::erase_if(tokens_, [](const PictureToken &t) { return !t.letter && t.text.empty(); });
        return std::move(tokens_);
    }

  private:
    std::vector<PictureToken> tokens_;
    bool dropNextLiteral_ = false;
};

// Adds one ICU pattern field as its Windows element, or drops it.
void AddIcuField(TokenBuilder &b, char letter, int n) {
    switch (letter) {
        case 'G':
            return b.Element('g', 2);
        case 'y':
        case 'u':
        case 'Y':
        case 'r':
            return b.Element('y', n == 2 ? 2 : 4);
        case 'M':
        case 'L':
            // The narrow form (5) has no Windows element; abbreviated is nearest.
            return b.Element('M', n >= 5 ? 3 : n);
        case 'd':
            return b.Element('d', n >= 2 ? 2 : 1);
        case 'E':
            return b.Element('d', n == 4 ? 4 : 3);
        case 'e':
        case 'c':
            // Numeric days of the week have no Windows element.
            if (n <= 2) return b.Drop();
            return b.Element('d', n == 4 ? 4 : 3);
        case 'a':
        case 'b':
        case 'B':
            return b.Element('t', 2);
        case 'h':
        case 'K':
            return b.Element('h', n >= 2 ? 2 : 1);
        case 'H':
        case 'k':
            return b.Element('H', n >= 2 ? 2 : 1);
        case 'm':
            return b.Element('m', n >= 2 ? 2 : 1);
        case 's':
            return b.Element('s', n >= 2 ? 2 : 1);
        default:
            // Time zones, fractions of a second, quarters, weeks, ...
            return b.Drop();
    }
}

// Spaces of other widths become plain ones (fonts for the stamp may lack
// them); direction marks are dropped (the stamp is drawn left to right).
bool NormaliseLiteralChar(UChar32 &c) {
    switch (c) {
        case 0x00A0:
        case 0x2007:
        case 0x2009:
        case 0x202F:
            c = ' ';
            return true;
        case 0x061C:
        case 0x200B:
        case 0x200E:
        case 0x200F:
            return false;
        default:
            return true;
    }
}

std::vector<PictureToken> Tokens(std::string_view picture) {
    return TokenizePicture(picture, kAllElements);
}

bool Has(const std::vector<PictureToken> &tokens, char letter, int minCount = 1) {
    return std::any_of(tokens.begin(), tokens.end(), [&](const PictureToken &t) {
        return t.letter == letter && t.count >= minCount;
    });
}

std::string WidenYear(std::string_view picture) {
    auto tokens = Tokens(picture);
    for (auto &t : tokens)
        if (t.letter == 'y') t.count = 4;
    return Serialize(tokens);
}

std::string PadDayAndMonth(std::string_view picture) {
    auto tokens = Tokens(picture);
    for (auto &t : tokens)
        if ((t.letter == 'd' || t.letter == 'M') && t.count == 1) t.count = 2;
    return Serialize(tokens);
}

std::string WithHourDigits(std::string_view picture, int count) {
    auto tokens = Tokens(picture);
    for (auto &t : tokens)
        if (t.letter == 'h' || t.letter == 'H') t.count = count;
    return Serialize(tokens);
}

// The 24-hour form of a 12-hour picture: H for h, without the designator.
std::string To24Hour(std::string_view picture) {
    TokenBuilder b;
    for (const auto &t : Tokens(picture)) {
        if (t.letter == 0)
            b.Literal(t.text);
        else if (t.letter == 't')
            b.Drop();
        else
            b.Element(t.letter == 'h' ? 'H' : t.letter, t.count);
    }
    return Serialize(b.Take());
}

std::optional<std::string> IcuPicture(const icu::Locale &locale, bool date,
                                      icu::DateFormat::EStyle style) {
    std::unique_ptr<icu::DateFormat> format(
        date ? icu::DateFormat::createDateInstance(style, locale)
             : icu::DateFormat::createTimeInstance(style, locale));
    const auto *simple = dynamic_cast<const icu::SimpleDateFormat *>(format.get());
    if (simple == nullptr) return std::nullopt;
    icu::UnicodeString pattern;
    simple->toPattern(pattern);
    std::string picture = ConvertIcuPattern(ToUtf8(pattern));
    if (picture.empty()) return std::nullopt;
    return picture;
}

void AddUnique(std::vector<std::string> &list, const std::optional<std::string> &picture) {
    if (!picture || picture->empty() || picture->size() > kMaxPicture) return;
    if (std::find(list.begin(), list.end(), *picture) == list.end()) list.push_back(*picture);
}

}  // namespace

std::optional<std::string> IcuLocaleForLcid(uint32_t localeId) {
    // LOCALE_NEUTRAL, LOCALE_USER_DEFAULT and LOCALE_SYSTEM_DEFAULT.
    if (localeId == 0 || localeId == 0x400 || localeId == 0x800) return UserDefaultLocale();
    std::array<char, ULOC_FULLNAME_CAPACITY> buffer{};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_getLocaleForLCID(localeId, buffer.data(),
                                                 static_cast<int32_t>(buffer.size()), &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0)
        return std::nullopt;
    std::string name(buffer.data(), length);
    if (name == "root" || !HasLocaleData(name.c_str())) return std::nullopt;
    return name;
}

const std::vector<LocaleEntry> &InstalledLocales() {
    // Built once (thread-safe initialisation), read-only afterwards.
    static const std::vector<LocaleEntry> list = BuildLocaleList();
    return list;
}

uint8_t CharSetForLocale(const char *icuName) {
    if (icuName == nullptr) return 0;
    std::array<char, ULOC_FULLNAME_CAPACITY> full{};
    UErrorCode status = U_ZERO_ERROR;
    uloc_addLikelySubtags(icuName, full.data(), static_cast<int32_t>(full.size()), &status);
    if (U_FAILURE(status)) return 0;
    std::array<char, ULOC_SCRIPT_CAPACITY> scriptBuffer{};
    std::array<char, ULOC_LANG_CAPACITY> languageBuffer{};
    uloc_getScript(full.data(), scriptBuffer.data(), static_cast<int32_t>(scriptBuffer.size()),
                   &status);
    uloc_getLanguage(full.data(), languageBuffer.data(),
                     static_cast<int32_t>(languageBuffer.size()), &status);
    if (U_FAILURE(status)) return 0;
    const std::string_view script = scriptBuffer.data();
    const std::string_view language = languageBuffer.data();

    if (script == "Cyrl") return 204;
    if (script == "Grek") return 161;
    if (script == "Arab") return 178;
    if (script == "Hebr") return 177;
    if (script == "Thai") return 222;
    if (script == "Jpan") return 128;
    if (script == "Kore") return 129;
    if (script == "Hans") return 134;
    if (script == "Hant") return 136;
    // Other scripts have no Windows ANSI code page: DEFAULT_CHARSET, so the
    // font match does not insist on Western glyphs.
    if (script != "Latn") return 1;
    // Latin-script languages by the ANSI code page Windows gives them: 1254
    // Turkish, 1257 Baltic, 1250 Central European, 1258 Vietnamese, else 1252.
    const auto in = [language](std::initializer_list<std::string_view> languages) {
        return std::find(languages.begin(), languages.end(), language) != languages.end();
    };
    if (in({"tr", "az", "uz"})) return 162;
    if (in({"lt", "lv", "et"})) return 186;
    if (in({"cs", "pl", "hu", "sk", "sl", "hr", "ro", "sq", "bs", "sr", "tk"})) return 238;
    if (language == "vi") return 163;
    return 0;
}

std::string ConvertIcuPattern(std::string_view pattern) {
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    TokenBuilder b;
    bool quoted = false;
    icu::UnicodeString literal;
    auto flush = [&] {
        if (literal.isEmpty()) return;
        b.Literal(ToUtf8(literal));
        literal.remove();
    };
    for (int32_t i = 0; i < text.length();) {
        UChar32 c = text.char32At(i);
        const int32_t width = U16_LENGTH(c);
        if (c == '\'') {
            if (i + 1 < text.length() && text.charAt(i + 1) == '\'') {
                literal.append(static_cast<UChar>('\''));
                i += 2;
            } else {
                quoted = !quoted;
                i += 1;
            }
            continue;
        }
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (letter && !quoted) {
            int32_t j = i;
            while (j < text.length() && text.charAt(j) == c) ++j;
            flush();
            AddIcuField(b, static_cast<char>(c), j - i);
            i = j;
            continue;
        }
        if (NormaliseLiteralChar(c)) literal.append(c);
        i += width;
    }
    flush();
    return Serialize(b.Take());
}

std::vector<std::string> LocalePictures(uint32_t localeId, PictureKind kind) {
    std::vector<std::string> list;
    const auto name = IcuLocaleForLcid(localeId);
    if (!name) return list;
    icu::Locale locale(name->c_str());
    // The formatter always uses the Gregorian calendar, so the patterns must
    // be the Gregorian ones even where the region prefers another calendar.
    UErrorCode status = U_ZERO_ERROR;
    locale.setKeywordValue("calendar", "gregorian", status);
    using Style = icu::DateFormat;
    switch (kind) {
        case PictureKind::ShortDate: {
            const auto shortDate = IcuPicture(locale, true, Style::kShort);
            if (shortDate) {
                AddUnique(list, WidenYear(*shortDate));
                AddUnique(list, shortDate);
                AddUnique(list, PadDayAndMonth(WidenYear(*shortDate)));
            }
            const auto medium = IcuPicture(locale, true, Style::kMedium);
            if (medium && !Has(Tokens(*medium), 'M', 3) && !Has(Tokens(*medium), 'd', 3))
                AddUnique(list, medium);
            AddUnique(list, std::string("yyyy-MM-dd"));
            break;
        }
        case PictureKind::LongDate: {
            AddUnique(list, IcuPicture(locale, true, Style::kFull));
            AddUnique(list, IcuPicture(locale, true, Style::kLong));
            const auto medium = IcuPicture(locale, true, Style::kMedium);
            if (medium && Has(Tokens(*medium), 'M', 3)) AddUnique(list, medium);
            if (list.empty()) AddUnique(list, std::string("d MMMM yyyy"));
            break;
        }
        case PictureKind::Time: {
            const auto medium = IcuPicture(locale, false, Style::kMedium);
            if (medium) {
                AddUnique(list, medium);
                AddUnique(list, WithHourDigits(*medium, 2));
                AddUnique(list, WithHourDigits(*medium, 1));
                if (Has(Tokens(*medium), 'h')) {
                    const std::string h24 = To24Hour(*medium);
                    AddUnique(list, WithHourDigits(h24, 1));
                    AddUnique(list, WithHourDigits(h24, 2));
                }
            }
            if (list.empty()) AddUnique(list, std::string("HH:mm:ss"));
            break;
        }
    }
    return list;
}

}  // namespace mk::metadata
