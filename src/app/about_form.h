#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About window: a picture, the publisher's credits and addresses, a
// licence notice and a disclaimer. Created once, hidden, and shown modally.
class TAboutForm : public QDialog
{
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label2;
    QPushButton* CloseButton;

    // The picture as decoded at start-up.
    const QImage& Picture() const { return picture_; }

    void CloseButtonClick();
    void Label2Click();

private:
    QImage picture_;
};

// The publisher's support page, shown by Label2.
inline constexpr char kSupportAddress[] = "www.bastionrow.example/help";

// Registers the pictures built into the program (once is enough, more is harmless).
void InitRavelinResources();
