#pragma once

// One JSON object on one line, its fields in the order they are added.
//
// Server texts are bytes, not Unicode, so a text is written byte for byte:
// printable ASCII as itself (with " and \ escaped), every other byte, 0x00 to
// 0x1F, 0x7F and 0x80 to 0xFF, as the escape \u00XX of the code point with the
// byte's value. The output is plain ASCII whatever the server sends, and a
// reader gets the exact bytes back by encoding the decoded string as
// ISO-8859-1 (every code point is below U+0100).

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// A text as a JSON string, quotes included.
QByteArray jsonString(QByteArrayView bytes);

class JsonLine
{
public:
    JsonLine& text(const char* key, QByteArrayView bytes);
    // A text, or null when there is none.
    JsonLine& text(const char* key, const std::optional<QByteArray>& bytes);
    // A whole number, or null when there is none.
    JsonLine& number(const char* key, std::optional<qint64> value);
    // The object with its closing brace and a line feed.
    QByteArray finish();

private:
    void key(const char* name);

    QByteArray line_ = "{";
};
