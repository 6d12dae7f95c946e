// Whole numbers as administrators and the program's files write them: the
// parser against a plain 64-bit restatement of its rules, and its three entry
// points against each other.

#include "core/integer_text.h"

#include "core/errors.h"
#include "fuzz_support.h"
#include "reference_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const std::optional<qint32> got = parseInteger(text);
    const std::optional<qint32> want = reference::parseInteger(text);
    FUZZ_CHECK(got == want,
               "text " + fuzz::escaped(text) + " gave " + (got ? QByteArray::number(*got) : "nothing")
                   + ", the rules say " + (want ? QByteArray::number(*want) : "nothing"));

    // toInteger fails exactly when parseInteger gives nothing, with the
    // message the error box shows.
    try {
        const qint32 value = toInteger(text);
        FUZZ_CHECK(got && value == *got, "toInteger gave " + QByteArray::number(value) + " for " + fuzz::escaped(text));
    } catch (const ConvertError& e) {
        FUZZ_CHECK(!got, "toInteger failed on " + fuzz::escaped(text));
        FUZZ_CHECK(e.message() == "'" + text.toByteArray() + "' is not a valid integer value",
                   "message " + fuzz::escaped(e.message()));
    }

    for (const qint32 fallback : {0, -1, 2147483647}) {
        const qint32 value = toIntegerOr(text, fallback);
        FUZZ_CHECK(value == got.value_or(fallback), "toIntegerOr gave " + QByteArray::number(value));
    }
    return 0;
}
