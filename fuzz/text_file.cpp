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

const fuzz::ScratchFile& file()
{
    static const fuzz::ScratchFile scratch("lines.dat");
    return scratch;
}

QByteArray where(qsizetype step)
{
    return " at step " + QByteArray::number(step);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const fuzz::Stretch stretch = fuzz::Stretch::consume(input);
    const int stepCount = input.ConsumeIntegralInRange(0, 63);
    std::vector<uint8_t> steps;
    for (int i = 0; i < stepCount; ++i)
        steps.push_back(input.ConsumeIntegral<uint8_t>());
    const QByteArray content = stretch.apply(fuzz::remainingBytes(input));
    file().write(content);

    TextFileReader reader;
    reader.open(file().path());
    FUZZ_CHECK(reader.isOpen(), "the reader is not open after opening");

    // The whole file, line by line.
    const QList<QByteArray> want = reference::TextModel(content).remainingLines();
    qsizetype count = 0;
    while (!reader.atEnd()) {
        FUZZ_CHECK(count < want.size(), "an extra line " + fuzz::escaped(reader.readLine()));
        const QByteArray line = reader.readLine();
        FUZZ_CHECK(line == want[count],
                   "line " + QByteArray::number(count + 1) + " is " + fuzz::escaped(line) + ", not "
                       + fuzz::escaped(want[count]));
        ++count;
    }
    FUZZ_CHECK(count == want.size(),
               "the reader stopped after " + QByteArray::number(count) + " of " + QByteArray::number(want.size())
                   + " lines");
    FUZZ_CHECK(reader.readLine().isEmpty(), "a line after the end");

    // Opened again: the same file from its start, in mixed steps.
    reader.open(file().path());
    reference::TextModel model(content);
    for (qsizetype i = 0; i < qsizetype(steps.size()); ++i) {
        const uint8_t step = steps[size_t(i)];
        switch (step & 3) {
        case 0: {
            const QByteArray got = reader.readLine();
            const QByteArray line = model.readLine();
            FUZZ_CHECK(got == line, "readLine gave " + fuzz::escaped(got) + ", not " + fuzz::escaped(line) + where(i));
            break;
        }
        case 1:
            reader.skipLine();
            model.skipLine();
            break;
        case 2: FUZZ_CHECK(reader.atEnd() == model.atEnd(), "atEnd" + where(i)); break;
        default: {
            const qsizetype maxLength = (step >> 2) + 1;
            const QByteArray got = reader.readWord(maxLength);
            const QByteArray word = model.readWord(maxLength);
            FUZZ_CHECK(got == word,
                       "readWord(" + QByteArray::number(maxLength) + ") gave " + fuzz::escaped(got) + ", not "
                           + fuzz::escaped(word) + where(i));
            break;
        }
        }
    }
    const QList<QByteArray> rest = model.remainingLines();
    for (const QByteArray& line : rest) {
        FUZZ_CHECK(!reader.atEnd(), "the reader ended before " + fuzz::escaped(line));
        const QByteArray got = reader.readLine();
        FUZZ_CHECK(got == line, "after the steps, " + fuzz::escaped(got) + ", not " + fuzz::escaped(line));
    }
    FUZZ_CHECK(reader.atEnd(), "the reader did not end with the file");

    // A closed reader refuses to read instead of reading stale bytes.
    reader.close();
    FUZZ_CHECK(!reader.isOpen(), "the reader is still open after closing");
    try {
        reader.readLine();
        FUZZ_CHECK(false, "readLine on a closed reader");
    } catch (const FileError& e) {
        FUZZ_CHECK(e.code() == file_error::FileNotOpen, "closed reader error " + QByteArray::number(e.code()));
    }
    return 0;
}
