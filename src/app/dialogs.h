#pragma once

// Every modal box the windows open goes through this seam. The program uses
// the real boxes; tests install a double that answers at once.

#include <QString>
#include <QStringList>

#include <optional>

class QDialog;
class QWidget;

// The file a save box chose, and which of its filters was chosen.
struct SaveChoice
{
    QString path;
    int filter = 0;
};

class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A text-input box with OK and Cancel whose entry, starting as `text`,
    // takes at most `maxLength` characters; nothing when it was cancelled or closed.
    virtual std::optional<QString> inputQuery(QWidget* owner, const QString& title, const QString& prompt,
                                              int maxLength, const QString& text = QString()) = 0;
    // A box with Yes and No and no icon; true for Yes.
    virtual bool askYesNo(QWidget* owner, const QString& caption, const QString& text) = 0;
    // The application's error box: the title, the text and one OK button.
    virtual void showError(QWidget* owner, const QString& title, const QString& text) = 0;
    // Shows a window modally until it closes.
    virtual void showModal(QDialog& dialog) = 0;
    // A file box for saving, starting at `suggestedPath`, offering `filters`
    // ("CSV files (*.csv)"); nothing when it was cancelled.
    virtual std::optional<SaveChoice> askSaveFile(QWidget* owner, const QString& title, const QString& suggestedPath,
                                                  const QStringList& filters) = 0;
};

class QtDialogs : public Dialogs
{
public:
    std::optional<QString> inputQuery(QWidget* owner, const QString& title, const QString& prompt, int maxLength,
                                      const QString& text = QString()) override;
    bool askYesNo(QWidget* owner, const QString& caption, const QString& text) override;
    void showError(QWidget* owner, const QString& title, const QString& text) override;
    void showModal(QDialog& dialog) override;
    std::optional<SaveChoice> askSaveFile(QWidget* owner, const QString& title, const QString& suggestedPath,
                                          const QStringList& filters) override;
};
