// The text-file reader against a plain restatement of the text-file rules:
// LF or CR LF ends a line, a CR elsewhere is dropped, Ctrl+Z ends the file,
// and a line end after the last line gives no extra line. First the whole
// file line by line, as the map list is read; then, on the same reader opened
// again, a sequence of lines, skips, end tests and words as the grid file is
// read.
//
// Input: the file's bytes, then (consumed from the end) the number of steps
// and the steps, and a byte that may stretch the file past the reader's buffer.

#include "storage/text_file.h"

#include "core/errors.h"
#include "fuzz_support.h"
#include "reference_rules.h"

namespace {

const fuzz::ScratchFile& File()
{
    static const fuzz::ScratchFile file("lines.dat");
    return file;
}

QByteArray Where(qsizetype step)
{
    return " at step " + QByteArray::number(step);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const fuzz::Stretch stretch = fuzz::Stretch::Consume(input);
    const int stepCount = input.ConsumeIntegralInRange(0, 63);
    std::vector<uint8_t> steps;
    for (int i = 0; i < stepCount; ++i)
        steps.push_back(input.ConsumeIntegral<uint8_t>());
    const QByteArray content = stretch.Apply(fuzz::RemainingBytes(input));
    File().Write(content);

    TextFileReader reader;
    reader.Open(File().Path());

    // The whole file, line by line.
    const QList<QByteArray> want = reference::TextModel(content).RemainingLines();
    qsizetype count = 0;
    while (!reader.AtEnd()) {
        FUZZ_CHECK(count < want.size(), "an extra line " + fuzz::Escaped(reader.ReadLine()));
        const QByteArray line = reader.ReadLine();
        FUZZ_CHECK(line == want[count],
                   "line " + QByteArray::number(count + 1) + " is " + fuzz::Escaped(line) + ", not "
                       + fuzz::Escaped(want[count]));
        ++count;
    }
    FUZZ_CHECK(count == want.size(),
               "the reader stopped after " + QByteArray::number(count) + " of " + QByteArray::number(want.size())
                   + " lines");
    FUZZ_CHECK(reader.ReadLine().isEmpty(), "a line after the end");

    // Opened again: the same file from its start, in mixed steps.
    reader.Open(File().Path());
    reference::TextModel model(content);
    for (qsizetype i = 0; i < qsizetype(steps.size()); ++i) {
        const uint8_t step = steps[size_t(i)];
        switch (step & 3) {
        case 0: {
            const QByteArray got = reader.ReadLine();
            const QByteArray line = model.ReadLine();
            FUZZ_CHECK(got == line, "ReadLine gave " + fuzz::Escaped(got) + ", not " + fuzz::Escaped(line) + Where(i));
            break;
        }
        case 1:
            reader.SkipLine();
            model.SkipLine();
            break;
        case 2: FUZZ_CHECK(reader.AtEnd() == model.AtEnd(), "AtEnd" + Where(i)); break;
        default: {
            const qsizetype maxLength = (step >> 2) + 1;
            const QByteArray got = reader.ReadWord(maxLength);
            const QByteArray word = model.ReadWord(maxLength);
            FUZZ_CHECK(got == word,
                       "ReadWord(" + QByteArray::number(maxLength) + ") gave " + fuzz::Escaped(got) + ", not "
                           + fuzz::Escaped(word) + Where(i));
            break;
        }
        }
    }
    const QList<QByteArray> rest = model.RemainingLines();
    for (const QByteArray& line : rest) {
        FUZZ_CHECK(!reader.AtEnd(), "the reader ended before " + fuzz::Escaped(line));
        const QByteArray got = reader.ReadLine();
        FUZZ_CHECK(got == line, "after the steps, " + fuzz::Escaped(got) + ", not " + fuzz::Escaped(line));
    }
    FUZZ_CHECK(reader.AtEnd(), "the reader did not end with the file");

    // A closed reader refuses to read instead of reading stale bytes.
    reader.Close();
    try {
        reader.ReadLine();
        FUZZ_CHECK(false, "ReadLine on a closed reader");
    } catch (const EInOutError& e) {
        FUZZ_CHECK(e.ErrorCode() == 103, "closed reader error " + QByteArray::number(e.ErrorCode()));
    }
    return 0;
}
