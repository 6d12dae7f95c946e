// What accessibility costs the long views. A list box of 1,000,000 lines: a
// screen reader's first read of its last row (the list's interface made, the
// row's made and its text read) against the list reading that row's text for
// itself, and the memory the interface and the row hold against the list's
// own. The announcement grid at its most, 100,000 rows, once a reader has read
// every cell: a row added at its end and taken away again, through the grid's
// interface and through Qt's own table interface (a QTableView on the same
// model), the yardstick. Qt tells a table's interface of its model's changes
// only while a screen reader is listening, so the grid's figures need one: run
// under a display with the accessibility bus (see docs/PERFORMANCE.md);
// offscreen, they show the views' own cost.

#include "app/item_view_accessible.h"
#include "app/list_box.h"
#include "app/start_up.h"
#include "app/string_grid.h"
#include "bench_summary.h"
#include "event_loop.h"

#include <QAccessible>
#include <QApplication>
#include <QTableView>

#include <cmath>
#include <malloc.h>
#include <memory>

namespace {

constexpr int kListRows = 1000000;
constexpr int kGridRows = 100000;

ListBox& longList()
{
    static ListBox* list = [] {
        auto* box = new ListBox(false);
        EntryBlock lines;
        for (int i = 0; i < kListRows; ++i)
            lines.append("Key: " + QByteArray::number(i).rightJustified(32, '0') + " Perm");
        box->append(lines);
        box->finish();
        return box;
    }();
    return *list;
}

qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

// Drops the list's interface, and the rows it made, so that the next read starts afresh.
void forgetInterface(QWidget& widget)
{
    if (QAccessibleInterface* kept = QAccessible::queryAccessibleInterface(&widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(kept));
}

void BM_ReaderReadsLastRow(benchmark::State& state)
{
    ListBox& list = longList();
    // The memory of the very first read (Google Benchmark calls this more than
    // once): the list's interface, its last row, and their bookkeeping.
    static const qint64 firstReadBytes = [&list] {
        const qint64 before = heapInUse();
        QAccessible::queryAccessibleInterface(&list)->child(kListRows - 1)->text(QAccessible::Name);
        return heapInUse() - before;
    }();
    state.counters["interface_bytes"] = double(firstReadBytes);
    QString text = QAccessible::queryAccessibleInterface(&list)->child(kListRows - 1)->text(QAccessible::Name);
    state.counters["list_bytes"] = double(list.entries().memoryUsed());
    if (!text.endsWith(QLatin1String(" Perm")))
        state.SkipWithError("the last row did not read");

    for (auto _ : state) {
        state.PauseTiming();
        forgetInterface(list);
        state.ResumeTiming();
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(&list);
        text = view->child(kListRows - 1)->text(QAccessible::Name);
        benchmark::DoNotOptimize(text);
    }
}

void BM_ListReadsLastRow(benchmark::State& state)
{
    ListBox& list = longList();
    QString text;
    for (auto _ : state) {
        text = list.model()->index(kListRows - 1, 0).data(Qt::DisplayRole).toString();
        benchmark::DoNotOptimize(text);
    }
}

// Arg 0: the grid with its own interface; 1: a QTableView on the same model, with Qt's.
void BM_GridRowAfterReading(benchmark::State& state)
{
    // Without a reader listening, both are the view's own cost: the yardstick's yardstick.
    state.counters["reader_listening"] = QAccessible::isActive() ? 1 : 0;
    StringGrid grid;
    grid.setColCount(1);
    grid.setRowCount(kGridRows);
    for (int row = 0; row < kGridRows; ++row)
        grid.setCell(0, row, "Announcement " + QByteArray::number(row));
    std::unique_ptr<QTableView> plain;
    QAbstractItemView* view = &grid;
    if (state.range(0) == 1) {
        plain = std::make_unique<QTableView>();
        plain->setModel(grid.model());
        view = plain.get();
    }
    view->show();
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(view);
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < table->childCount(); ++i)
        table->child(i);
    state.counters["read_all_ms"] =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    for (auto _ : state) {
        grid.setRowCount(kGridRows + 1);
        grid.setRowCount(kGridRows);
    }
    view->hide();
}

BENCHMARK(BM_ReaderReadsLastRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListReadsLastRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridRowAfterReading)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    prepareApplication(application);
    // A reader's bridge, where there is one, says so on a turn of the event loop.
    spinUntil([] { return QAccessible::isActive(); }, std::chrono::seconds(3));

    SummaryReporter reporter;
    if (!runBenchmarks(argc, argv, reporter))
        return 1;
    const auto time = [&](const std::string& name) {
        const auto* run = reporter.find(name);
        return run ? run->GetAdjustedRealTime() : std::nan("");
    };
    printResult("a11y_reader_listening", QAccessible::isActive() ? 1 : 0);
    printResult("a11y_reader_last_row_us", time("BM_ReaderReadsLastRow"));
    printResult("a11y_list_last_row_us", time("BM_ListReadsLastRow"));
    printResult("a11y_interface_bytes", reporter.counter("BM_ReaderReadsLastRow", "interface_bytes"));
    printResult("a11y_list_bytes", reporter.counter("BM_ReaderReadsLastRow", "list_bytes"));
    for (const auto& [arg, who] : {std::pair{"0", "grid"}, {"1", "qt_table"}}) {
        const std::string name = std::string("BM_GridRowAfterReading/") + arg;
        printResult(std::string("a11y_") + who + "_row_change_ms", time(name));
        printResult(std::string("a11y_") + who + "_read_all_ms", reporter.counter(name, "read_all_ms"));
    }
    return 0;
}
