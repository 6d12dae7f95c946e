// Whole numbers as administrators and the program's files write them: the
// parser against a plain 64-bit restatement of its rules, and its three entry
// points against each other.

#include "core/delphi_number.h"

#include "core/errors.h"
#include "fuzz_support.h"
#include "reference_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const std::optional<qint32> got = TryStrToInt(text);
    const std::optional<qint32> want = reference::StrToInt(text);
    FUZZ_CHECK(got == want,
               "text " + fuzz::Escaped(text) + " gave " + (got ? QByteArray::number(*got) : "nothing")
                   + ", the rules say " + (want ? QByteArray::number(*want) : "nothing"));

    // StrToInt fails exactly when TryStrToInt gives nothing, with the
    // message the error box shows.
    try {
        const qint32 value = StrToInt(text);
        FUZZ_CHECK(got && value == *got, "StrToInt gave " + QByteArray::number(value) + " for " + fuzz::Escaped(text));
    } catch (const EConvertError& e) {
        FUZZ_CHECK(!got, "StrToInt failed on " + fuzz::Escaped(text));
        FUZZ_CHECK(e.Message() == "'" + text.toByteArray() + "' is not a valid integer value",
                   "message " + fuzz::Escaped(e.Message()));
    }

    for (const qint32 fallback : {0, -1, 2147483647}) {
        const qint32 value = StrToIntDef(text, fallback);
        FUZZ_CHECK(value == got.value_or(fallback), "StrToIntDef gave " + QByteArray::number(value));
    }
    return 0;
}
