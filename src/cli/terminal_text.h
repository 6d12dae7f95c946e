#pragma once

// Between the terminal's text and the server's. A server reads and writes
// 8-bit text in the Windows-1252 table, as the window shows it; a terminal
// (and every argument, prompt line and file the user writes) uses the
// locale's encoding, UTF-8 nearly always. What the user gives is turned into
// the bytes the window would send for the same characters, and what the
// server sends is shown as the characters the window shows.
//
// Inside ravelin-cli, text to be printed is UTF-8; it takes the terminal's
// encoding only as it is written out.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class TerminalText
{
public:
    // `codeset` as nl_langinfo(CODESET) names it. The C locale's ASCII is
    // taken as UTF-8, as Qt and most programs do today.
    explicit TerminalText(QByteArray codeset = "UTF-8");
    // The encoding of the locale the environment chooses.
    static TerminalText fromLocale();

    struct ServerBytes
    {
        QByteArray bytes;
        QByteArray problem; // why the text cannot be sent; empty when it can
    };

    // The bytes for the server. A character the Windows-1252 table does not
    // hold is a problem, never a "?". A byte that is not text in the
    // terminal's encoding (a name's raw byte a script passes on) is sent as
    // it is, so that any byte can still be given.
    ServerBytes toServer(QByteArrayView typed) const;
    // The characters of user text, such as a server's name given with -S;
    // a byte that is not text in the terminal's encoding stands for itself
    // as a Windows-1252 character.
    QString toUnicode(QByteArrayView typed) const;
    // UTF-8 text as the terminal shows it; a character it cannot show is "?".
    QByteArray toTerminal(QByteArrayView utf8) const;

    bool isUtf8() const { return utf8_; }

private:
    QByteArray codeset_;
    bool utf8_ = true;
};

// A server's bytes as UTF-8 text: the characters the window shows for them.
QByteArray serverTextAsUtf8(QByteArrayView bytes);
