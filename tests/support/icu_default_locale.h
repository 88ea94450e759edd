// ICU's default locale, set for one test and put back afterwards.
#pragma once

#include <unicode/locid.h>

namespace mk::test {

class DefaultLocale {
  public:
    explicit DefaultLocale(const icu::Locale &locale) : saved_(icu::Locale::getDefault()) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(locale, status);
    }
    ~DefaultLocale() {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(saved_, status);
    }
    DefaultLocale(const DefaultLocale &) = delete;
    DefaultLocale &operator=(const DefaultLocale &) = delete;

  private:
    icu::Locale saved_;
};

}  // namespace mk::test
