#include "app/ban_dialog.h"

#include "app/text_codec.h"
#include "app/window_parts.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using fleet_admin::BanDuration;

BanDialog::BanDialog(const QString& who, const QStringList& reasons, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("banDialog"));
    setWindowTitle(QStringLiteral("Ban Player"));
    auto* whoLabel = new QLabel(QStringLiteral("Ban %1").arg(who), this);
    whoLabel->setTextFormat(Qt::PlainText);
    whoLabel->setWordWrap(true);

    durationBox_ = new QComboBox(this);
    durationBox_->setObjectName(QStringLiteral("banDurationBox"));
    durationBox_->setEditable(true);
    durationBox_->setInsertPolicy(QComboBox::NoInsert);
    for (const fleet_admin::BanChoice& choice : fleet_admin::banChoices())
        durationBox_->addItem(QString::fromLatin1(choice.caption));
    durationBox_->setCurrentIndex(2); // a day: long enough to matter, short enough to undo itself
    durationBox_->setToolTip(QStringLiteral("Choose one, or type a time such as 90m, 12h, 3d or perm"));

    reasonBox_ = new QComboBox(this);
    reasonBox_->setObjectName(QStringLiteral("banReasonBox"));
    reasonBox_->setEditable(true);
    reasonBox_->setInsertPolicy(QComboBox::NoInsert);
    reasonBox_->addItems(reasons);
    reasonBox_->setCurrentIndex(-1);
    reasonBox_->lineEdit()->setPlaceholderText(QStringLiteral("Why, for the next administrator"));

    messageEdit_ = new QLineEdit(this);
    messageEdit_->setObjectName(QStringLiteral("banMessageEdit"));
    messageEdit_->setPlaceholderText(QStringLiteral("Nothing is said when empty"));

    thisServerButton_ = new QRadioButton(QStringLiteral("On &this server"), this);
    thisServerButton_->setObjectName(QStringLiteral("banThisServerButton"));
    thisServerButton_->setChecked(true);
    everyServerButton_ = new QRadioButton(QStringLiteral("On &every server of the fleet"), this);
    everyServerButton_->setObjectName(QStringLiteral("banEveryServerButton"));

    problemLabel_ = makeStatusLabel(this, "banProblemLabel", QStringLiteral("Problem"));

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Ban"));
    connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
        if (order())
            accept();
    });
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    addLabelledRow(form, this, QStringLiteral("&Duration:"), durationBox_);
    addLabelledRow(form, this, QStringLiteral("&Reason:"), reasonBox_);
    addLabelledRow(form, this, QStringLiteral("Public &message:"), messageEdit_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(whoLabel);
    layout->addLayout(form);
    layout->addWidget(thisServerButton_);
    layout->addWidget(everyServerButton_);
    layout->addWidget(problemLabel_);
    layout->addWidget(buttons_);

    connect(durationBox_, &QComboBox::currentTextChanged, this, &BanDialog::onChanged);
    connect(messageEdit_, &QLineEdit::textChanged, this, &BanDialog::onChanged);
    connect(everyServerButton_, &QRadioButton::toggled, this, &BanDialog::onChanged);
    onChanged();
    // Room for a hash and a reason of a sentence without cutting either.
    setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
}

std::optional<BanOrder> BanDialog::order(QString* problem) const
{
    const auto refuse = [&](const QString& why) -> std::optional<BanOrder> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    BanOrder order;
    const QString durationText = durationBox_->currentText();
    std::optional<BanDuration> duration;
    for (const fleet_admin::BanChoice& choice : fleet_admin::banChoices())
        if (durationText == QLatin1String(choice.caption))
            duration = choice.duration;
    if (!duration)
        duration = fleet_admin::parseBanDuration(durationText);
    if (!duration)
        return refuse(QStringLiteral("\"%1\" is not a duration: choose one, or type a time such as 90m, 12h, 3d "
                                     "or perm.")
                          .arg(durationText));
    order.duration = *duration;
    order.everyServer = everyServerButton_->isChecked();
    if (order.everyServer && duration->kind == BanDuration::Kind::Round)
        return refuse(QStringLiteral("A ban for the rest of the round can only be made on the player's own server."));
    order.reason = reasonBox_->currentText().trimmed();
    order.message = messageEdit_->text();
    if (!order.message.isEmpty() && !fleet_admin::sayAllCommand(toBytes(order.message)))
        return refuse(QStringLiteral("The public message is too long for the server's line."));
    return order;
}

void BanDialog::onChanged()
{
    QString problem;
    const bool ready = order(&problem).has_value();
    problemLabel_->setText(problem);
    problemLabel_->setVisible(!ready);
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(ready);
}
