#pragma once

// What one administration operation does once its input is known: the command
// handed to SendCommand and the sentence written to the log afterwards.

#include <QByteArray>

struct AdminAction
{
    QByteArray command;
    QByteArray logLine;

    friend bool operator==(const AdminAction&, const AdminAction&) = default;
};
