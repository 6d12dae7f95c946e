// Lists to take away: every list and the log can be copied whole or saved as
// a text file; the player and ban lists also as CSV, cut into their fields.

#include "admin/list_export.h"
#include "app/dialogs.h"
#include "app/list_box.h"
#include "app/main_window.h"
#include "app/text_codec.h"
#include "core/secrets.h"
#include "storage/text_file.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

namespace {

const QString kTextFilter = QStringLiteral("Text files (*.txt)");
const QString kCsvFilter = QStringLiteral("CSV files (*.csv)");

// The log's lines as the audit log keeps them: what leaves the window by the
// clipboard or a file never carries the password or a login digest.
QList<QByteArray> linesOf(const QPlainTextEdit& log)
{
    QList<QByteArray> lines;
    const QString text = log.toPlainText();
    if (!text.isEmpty())
        for (const QString& line : text.split(u'\n'))
            lines.append(secrets::blotSecrets(toBytes(line), {}));
    return lines;
}

} // namespace

void MainWindow::createTakeAwayActions()
{
    const auto itemsOf = [](ListBox* list) { return [list] { return list->items(); }; };
    addTakeAwayActions(playerList_, QStringLiteral("players"), SaveFormats::TextOrPlayersCsv, itemsOf(playerList_));
    addTakeAwayActions(banList_, QStringLiteral("bans"), SaveFormats::TextOrBansCsv, itemsOf(banList_));
    addTakeAwayActions(localMapList_, QStringLiteral("local-maps"), SaveFormats::TextOnly, itemsOf(localMapList_));
    addTakeAwayActions(rotationList_, QStringLiteral("map-rotation"), SaveFormats::TextOnly, itemsOf(rotationList_));
    addTakeAwayActions(logView_, QStringLiteral("log"), SaveFormats::TextOnly, [this] { return linesOf(*logView_); });
    // The log keeps its own menu (Copy, Select All) and gains the two.
    logView_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(logView_, &QWidget::customContextMenuRequested, this, &MainWindow::onLogContextMenu);
}

void MainWindow::addTakeAwayActions(QWidget* view, const QString& name, SaveFormats formats,
                                    std::function<QList<QByteArray>()> lines)
{
    auto* copyAll = new QAction(QStringLiteral("Copy &All"), view);
    copyAll->setObjectName(view->objectName() + QStringLiteral("CopyAllAction"));
    auto* saveAs = new QAction(QStringLiteral("&Save As..."), view);
    saveAs->setObjectName(view->objectName() + QStringLiteral("SaveAsAction"));
    guard_.bind(copyAll, &QAction::triggered, [this, lines] { onCopyAllTriggered(lines()); });
    guard_.bind(saveAs, &QAction::triggered,
                [this, name, formats, lines] { onSaveAsTriggered(name, formats, lines()); });
    view->addActions({copyAll, saveAs});
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindow::onLogContextMenu(QPoint at)
{
    QMenu* menu = logView_->createStandardContextMenu(at);
    menu->addSeparator();
    menu->addActions(logView_->actions());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(logView_->viewport()->mapToGlobal(at));
}

void MainWindow::onCopyAllTriggered(const QList<QByteArray>& lines)
{
    QGuiApplication::clipboard()->setText(toDisplay(lines.join('\n')));
}

void MainWindow::onSaveAsTriggered(const QString& name, SaveFormats formats, const QList<QByteArray>& lines)
{
    const bool csvOffered = formats != SaveFormats::TextOnly;
    const QStringList filters = csvOffered ? QStringList{kCsvFilter, kTextFilter} : QStringList{kTextFilter};
    const QString suggested = QDir::home().filePath(name
                                                    + (csvOffered ? QStringLiteral(".csv") : QStringLiteral(".txt")));
    const std::optional<SaveChoice> choice = options_.dialogs->askSaveFile(this, QStringLiteral("Save As"), suggested,
                                                                           filters);
    if (!choice)
        return;
    // The name's ending decides; a name without a known one goes by the filter.
    const QString& path = choice->path;
    const bool csv = csvOffered
        && (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)
            || (!path.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive)
                && filters.value(choice->filter) == kCsvFilter));
    const QList<QByteArray> written = !csv         ? lines
        : formats == SaveFormats::TextOrPlayersCsv ? list_export::playersCsv(lines)
                                                   : list_export::bansCsv(lines);
    TextFileWriter writer(path);
    for (const QByteArray& line : written)
        writer.writeLine(line);
    writer.commit();
    appendLog("Saved " + QByteArray::number(lines.size()) + (lines.size() == 1 ? " line to " : " lines to ")
              + QFile::encodeName(path));
}
