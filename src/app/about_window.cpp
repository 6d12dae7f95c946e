#include "app/about_window.h"

#include "app/dialogs.h"
#include "app/placement.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

// Outside any namespace, as Qt's resource initialiser requires.
void initRavelinResources()
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

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry, bool wordWrap = false)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    // The texts are the program's own; they are never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wordWrap);
    label->move(geometry.topLeft());
    if (geometry.width() > 0)
        label->resize(geometry.size());
    else
        label->adjustSize();
    return label;
}

} // namespace

QString licenceNotice(const QString& executableDir)
{
    const QString installed = QDir::cleanPath(executableDir + QStringLiteral("/../share/doc/ravelin/LICENCE.txt"));
    const QString file = QFileInfo::exists(installed) ? installed : QStringLiteral("LICENCE.txt");
    return QStringLiteral("By installing or using Ravelin you agree to be bound by the terms of the "
                          "licence agreement supplied with it in the file %1.")
        .arg(file);
}

AboutWindow::AboutWindow(std::shared_ptr<Dialogs> dialogs, QWidget* parent)
    : QDialog(parent)
    , guard_(this, std::move(dialogs))
{
    initRavelinResources();
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("About Casemate"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(299, 383);
    moveToDesignedPlace(this, {353, 248});
    // White, as designed, whatever the desktop's colours: so the text is dark
    // too, or a dark desktop palette would put light grey on white.
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    white.setColor(QPalette::Text, Qt::black);
    setPalette(white);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    setFont(font);

    // Drawn at its own size from the top-left corner and clipped to the control.
    pictureLabel_ = makeLabel(this, "pictureLabel", {}, {24, 0, 199, 97});
    pictureLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pictureLabel_->setPixmap(QPixmap(QStringLiteral(":/ravelin/about.jpg")));

    makeLabel(this, "emailLabel", QStringLiteral("Email:"), {16, 112, 0, 0});
    makeLabel(this, "emailAddressLabel", QStringLiteral("ravelin@bastionrow.org"), {72, 112, 0, 0});
    // Room for a fourth line, as an installed copy names the file's whole
    // path; the centre is where the designed three lines had it.
    makeLabel(this, "licenceLabel", licenceNotice(QCoreApplication::applicationDirPath()), {16, 132, 252, 60}, true);
    makeLabel(this, "disclaimerLabel",
              QStringLiteral("Ravelin is not endorsed or supported by the developer or the publisher of "
                             "the game. The author accepts no liability for any damages arising from "
                             "its use."),
              {16, 200, 244, 65}, true);
    makeLabel(this, "creditsLabel", QStringLiteral("Ravelin is bought to you by Bastion Row Software"),
              {16, 280, 249, 26}, true);
    makeLabel(this, "supportLabel", QStringLiteral("For support visit:"), {16, 312, 0, 0});

    supportLinkLabel_ = new ClickableLabel(QLatin1String(kSupportAddress), this,
                                           [this] { guard_.run([this] { onSupportLinkClicked(); }); });
    supportLinkLabel_->setObjectName(QStringLiteral("supportLinkLabel"));
    supportLinkLabel_->setTextFormat(Qt::PlainText);
    QFont link = supportLinkLabel_->font();
    link.setUnderline(true);
    supportLinkLabel_->setFont(link);
    supportLinkLabel_->setStyleSheet(QStringLiteral("color: blue;"));
    // As wide as the address, so the whole of it shows and only it is clickable.
    supportLinkLabel_->move(104, 312);
    supportLinkLabel_->adjustSize();

    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setGeometry(104, 344, 75, 25);
    okButton_->setDefault(true);
    guard_.bind(okButton_, &QPushButton::clicked, [this] { onOkClicked(); });
    for (QWidget* child : findChildren<QWidget*>())
        if (child != okButton_)
            child->setFocusPolicy(Qt::NoFocus);
}

void AboutWindow::onOkClicked()
{
    reject();
}

void AboutWindow::onSupportLinkClicked()
{
    // A desktop without a browser is no reason to bother the user.
    QDesktopServices::openUrl(QUrl::fromUserInput(supportLinkLabel_->text()));
}
