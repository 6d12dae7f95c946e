#pragma once

// The one codec between the program's 8-bit texts and what widgets show: the
// Windows-1252 table, with its five undefined bytes mapped to the control
// characters of the same number, so every byte value survives a round trip
// through a widget (a key hash read from a list goes back byte for byte).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

QString toDisplay(QByteArrayView bytes);

// At most the first 4 KiB of one line of a list box or the log, for display
// only: laying out megabytes of one line would freeze the window.
QString toDisplayLine(QByteArrayView bytes);

// Characters outside the table become "?".
QByteArray toBytes(const QString& text);
