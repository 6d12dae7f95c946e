#include "app/dialogs.h"

#include <QDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

std::optional<QString> QtDialogs::inputQuery(QWidget* owner, const QString& title, const QString& prompt, int maxLength)
{
    QInputDialog box(owner);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setInputMode(QInputDialog::TextInput);
    if (auto* edit = box.findChild<QLineEdit*>())
        edit->setMaxLength(maxLength);
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
