#pragma once

// One JSON object on one line, its fields in the order they are added.
//
// A server's text holds the characters the window shows for its bytes (the
// Windows-1252 table, its five undefined bytes as the control characters of
// the same number), so a reader gets the exact bytes back by encoding the
// decoded string in that table. Printable ASCII is written as itself (with "
// and \ escaped), every other character as a \uXXXX escape: the output is
// plain ASCII whatever the server sends.

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <optional>

// A text as a JSON string, quotes included: a server's bytes, or characters.
QByteArray jsonString(QByteArrayView serverBytes);
QByteArray jsonString(QStringView text);

class JsonLine
{
public:
    // A server's text.
    JsonLine& text(const char* key, QByteArrayView bytes);
    // The program's own text.
    JsonLine& text(const char* key, QStringView text);
    // A text, or null when there is none.
    JsonLine& text(const char* key, const std::optional<QByteArray>& bytes);
    // A whole number, or null when there is none.
    JsonLine& number(const char* key, std::optional<qint64> value);
    JsonLine& boolean(const char* key, bool value);
    // A value already written as JSON (an array, say).
    JsonLine& raw(const char* key, QByteArrayView json);
    // The object with its closing brace and a line feed.
    QByteArray finish();

private:
    void key(const char* name);

    QByteArray line_ = "{";
};
