#pragma once

// The Ban window of the fleet: how long, why, what to tell the players, and
// on which servers. It checks what it is given before it lets OK through.

#include "admin/fleet_admin.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QRadioButton;

struct BanOrder
{
    fleet_admin::BanDuration duration;
    QString reason;
    QString message; // said to all players; empty says nothing
    bool everyServer = false;
};

class BanDialog : public QDialog
{
    Q_OBJECT

public:
    // `who` names the player and their server for the window's first line.
    BanDialog(const QString& who, const QStringList& reasons, QWidget* parent = nullptr);

    // What the window holds, when it holds a ban that can be made; else why not.
    std::optional<BanOrder> order(QString* problem = nullptr) const;

private:
    void onChanged();

    QComboBox* durationBox_;
    QComboBox* reasonBox_;
    QLineEdit* messageEdit_;
    QRadioButton* thisServerButton_;
    QRadioButton* everyServerButton_;
    QLabel* problemLabel_;
    QDialogButtonBox* buttons_;
};
