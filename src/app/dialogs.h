#pragma once

// Every modal box the window opens goes through this seam. The program uses
// the real boxes; tests install a double that answers at once.

#include <QString>

#include <optional>

class QDialog;
class QWidget;

class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A text-input box with OK and Cancel; nothing when it was cancelled or closed.
    virtual std::optional<QString> InputQuery(QWidget* owner, const QString& title, const QString& prompt,
                                              int maxLength) = 0;
    // A box with Yes and No and no icon; true for Yes.
    virtual bool AskYesNo(QWidget* owner, const QString& caption, const QString& text) = 0;
    // The application's error box: the title, the text and one OK button.
    virtual void ShowError(QWidget* owner, const QString& title, const QString& text) = 0;
    // Shows a window modally until it closes.
    virtual void ShowModal(QDialog& dialog) = 0;
};

class QtDialogs : public Dialogs
{
public:
    std::optional<QString> InputQuery(QWidget* owner, const QString& title, const QString& prompt,
                                      int maxLength) override;
    bool AskYesNo(QWidget* owner, const QString& caption, const QString& text) override;
    void ShowError(QWidget* owner, const QString& title, const QString& text) override;
    void ShowModal(QDialog& dialog) override;
};
