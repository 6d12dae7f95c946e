#pragma once

// Every modal box the windows open goes through this seam. The program uses
// the real boxes; tests install a double that answers at once.

#include <QString>

#include <optional>

class QDialog;
class QWidget;

class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A text-input box with OK and Cancel whose entry takes at most
    // `maxLength` characters; nothing when it was cancelled or closed.
    virtual std::optional<QString> inputQuery(QWidget* owner, const QString& title, const QString& prompt,
                                              int maxLength) = 0;
    // A box with Yes and No and no icon; true for Yes.
    virtual bool askYesNo(QWidget* owner, const QString& caption, const QString& text) = 0;
    // The application's error box: the title, the text and one OK button.
    virtual void showError(QWidget* owner, const QString& title, const QString& text) = 0;
    // Shows a window modally until it closes.
    virtual void showModal(QDialog& dialog) = 0;
};

class QtDialogs : public Dialogs
{
public:
    std::optional<QString> inputQuery(QWidget* owner, const QString& title, const QString& prompt,
                                      int maxLength) override;
    bool askYesNo(QWidget* owner, const QString& caption, const QString& text) override;
    void showError(QWidget* owner, const QString& title, const QString& text) override;
    void showModal(QDialog& dialog) override;
};
