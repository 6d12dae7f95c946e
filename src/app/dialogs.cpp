#include "app/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

std::optional<QString> QtDialogs::inputQuery(QWidget* owner, const QString& title, const QString& prompt, int maxLength,
                                             const QString& text)
{
    QInputDialog box(owner);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setInputMode(QInputDialog::TextInput);
    if (auto* edit = box.findChild<QLineEdit*>())
        edit->setMaxLength(maxLength);
    box.setTextValue(text);
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
}

bool QtDialogs::askYesNo(QWidget* owner, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogs::showError(QWidget* owner, const QString& title, const QString& text)
{
    // An error may quote what a server or a file held: never read it as markup.
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtDialogs::showModal(QDialog& dialog)
{
    dialog.exec();
}

std::optional<SaveChoice> QtDialogs::askSaveFile(QWidget* owner, const QString& title, const QString& suggestedPath,
                                                 const QStringList& filters)
{
    QFileDialog box(owner, title, suggestedPath);
    box.setAcceptMode(QFileDialog::AcceptSave);
    box.setNameFilters(filters);
    // A name typed without an ending gets the chosen filter's.
    const auto suffixOf = [](const QString& filter) {
        return filter.section(QStringLiteral("(*."), 1).section(u')', 0, 0);
    };
    box.setDefaultSuffix(suffixOf(filters.value(0)));
    QObject::connect(&box, &QFileDialog::filterSelected, &box,
                     [&box, suffixOf](const QString& filter) { box.setDefaultSuffix(suffixOf(filter)); });
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty())
        return std::nullopt;
    return SaveChoice{box.selectedFiles().constFirst(),
                      int(std::max<qsizetype>(0, filters.indexOf(box.selectedNameFilter())))};
}
