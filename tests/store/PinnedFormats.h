// Fixed locale formats for the tests of this folder, so that expected texts do not depend on the machine's
// locale: "," grouping in threes and ISO dates. Optionally marks every translated text as "<text>", to show
// which pieces of a result pass through the translation.
#pragma once

#include <cstdio>

#include "platform/LocaleFormat.h"
#include "translate/Translate.h"

namespace imbrex::test {

class PinnedFormats
{
public:
    explicit PinnedFormats(bool markTranslations = false)
    {
        platform::setLocaleFormatter({
            [](int64_t value) { return platform::groupDigits(value, ",", "\3"); },
            [](int year, int month, int day) {
                char text[32];
                std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
                return std::string(text);
            },
        });
        if (markTranslations)
            setTranslator([](std::string_view text) { return "<" + std::string(text) + ">"; });
    }
    ~PinnedFormats()
    {
        platform::setLocaleFormatter({});
        setTranslator({});
    }
    PinnedFormats(const PinnedFormats &) = delete;
    PinnedFormats &operator=(const PinnedFormats &) = delete;
};

} // namespace imbrex::test
