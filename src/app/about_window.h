#pragma once

// The About window: a picture, the publisher's credits and addresses, a
// licence notice and a disclaimer. Created once, hidden, and shown modally.

#include "app/event_binding.h"

#include <QDialog>

#include <memory>

class Dialogs;
class QLabel;
class QPushButton;

class AboutWindow : public QDialog
{
    Q_OBJECT

public:
    explicit AboutWindow(std::shared_ptr<Dialogs> dialogs, QWidget* parent = nullptr);

private:
    void onOkClicked();
    void onSupportLinkClicked();

    ErrorGuard guard_;
    QLabel* pictureLabel_;
    QLabel* supportLinkLabel_;
    QPushButton* okButton_;
};

// The publisher's support page, shown as the About window's link.
inline constexpr char kSupportAddress[] = "github.com/bastionrow/ravelin";

// The About window's licence notice. An installed copy names the licence's
// place in the documentation folder of its own prefix (bin/../share/doc/ravelin),
// a copy run from its build names the file at the top of its source.
QString licenceNotice(const QString& executableDir);

// Registers the pictures built into the program (once is enough, more is harmless).
void initRavelinResources();
