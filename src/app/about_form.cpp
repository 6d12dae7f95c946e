#include "app/about_form.h"

#include "app/jpeg_image.h"

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

// Outside any namespace, as Qt's resource initialiser requires.
void InitRavelinResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

// A label that reports clicks.
class ClickableLabel : public QLabel
{
public:
    ClickableLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
        : QLabel(text, parent)
        , onClick_(std::move(onClick))
    {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            onClick_();
    }

private:
    std::function<void()> onClick_;
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry, bool wordWrap = false)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(wordWrap);
    label->move(geometry.topLeft());
    if (geometry.width() > 0)
        label->resize(geometry.size());
    else
        label->adjustSize();
    return label;
}

QImage LoadPicture()
{
    InitRavelinResources();
    QFile file(QStringLiteral(":/ravelin/about.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return DecodeJpeg(file.readAll());
}

} // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent)
    , picture_(LoadPicture())
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Casemate"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(299, 383);
    move(353, 248);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    setFont(font);

    // Drawn at its own size from the top-left corner and clipped to the control.
    Image1 = MakeLabel(this, "Image1", {}, {24, 0, 199, 97});
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap::fromImage(picture_));

    Label4 = MakeLabel(this, "Label4", QStringLiteral("Email:"), {16, 112, 0, 0});
    Label5 = MakeLabel(this, "Label5", QStringLiteral("ravelin@bastionrow.example"), {72, 112, 0, 0});
    Label6 = MakeLabel(this, "Label6",
                       QStringLiteral("By installing or using Ravelin you agree to be bound by the terms of the "
                                      "licence agreement supplied with it in the file LICENCE.txt."),
                       {16, 136, 252, 52}, true);
    Label7 = MakeLabel(this, "Label7",
                       QStringLiteral("Ravelin is not endorsed or supported by the developer or the publisher of "
                                      "the game. The author accepts no liability for any damages arising from "
                                      "its use."),
                       {16, 200, 244, 65}, true);
    Label1 = MakeLabel(this, "Label1", QStringLiteral("Ravelin is bought to you by Bastion Row Software"),
                       {16, 280, 249, 26}, true);
    Label3 = MakeLabel(this, "Label3", QStringLiteral("For support visit:"), {16, 312, 0, 0});

    Label2 = new ClickableLabel(QLatin1String(kSupportAddress), this, [this] { Label2Click(); });
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(104, 312, 155, 13);
    QFont link = Label2->font();
    link.setUnderline(true);
    Label2->setFont(link);
    Label2->setStyleSheet(QStringLiteral("color: blue;"));

    CloseButton = new QPushButton(QStringLiteral("OK"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    CloseButton->setGeometry(104, 344, 75, 25);
    CloseButton->setDefault(true);
    connect(CloseButton, &QPushButton::clicked, this, &TAboutForm::CloseButtonClick);
    for (QWidget* child : findChildren<QWidget*>())
        if (child != CloseButton)
            child->setFocusPolicy(Qt::NoFocus);
}

void TAboutForm::CloseButtonClick()
{
    reject();
}

void TAboutForm::Label2Click()
{
    // A desktop without a browser is no reason to bother the user.
    QDesktopServices::openUrl(QUrl::fromUserInput(Label2->text()));
}
