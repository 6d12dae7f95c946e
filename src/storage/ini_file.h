#pragma once

// An INI file read and written key by key, the way the Windows private-profile
// functions do it: every call opens the file, finds the section and the key,
// and closes it again. Writing changes that key's value alone and leaves every
// other byte of the file as it was (sections, keys, comments, blank lines and
// line ends), which general INI libraries, rewriting the whole file, do not.
//
// Section and key names match without regard to ASCII letter case and to
// blanks around them; a value is everything after the first "=" of its line,
// blanks included. The first matching section and key count.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class IniFile
{
public:
    // The longest value a read returns; longer stored values are cut.
    static constexpr qsizetype kMaxValueLength = 2047;

    explicit IniFile(QString path);

    const QString& Path() const { return path_; }

    // The key's value, or `fallback` when the file, the section or the key is
    // missing or the file cannot be read. Never fails.
    QByteArray ReadString(QByteArrayView section, QByteArrayView key, const QByteArray& fallback) const;

    // The key's value as a whole number (see TryStrToInt); `fallback` when the
    // key is missing or its value is empty, not a number or out of range.
    qint32 ReadInteger(QByteArrayView section, QByteArrayView key, qint32 fallback) const;

    // Sets the key's value, creating the file (readable by its owner only), the
    // section or the key when missing. A new key goes after the last key of
    // its section, a new section at the end of the file. A value ends at its
    // first line break, which could not be stored. Returns false, leaving the
    // file as it was, when the file or its directory may not be written or the
    // write fails.
    bool WriteString(QByteArrayView section, QByteArrayView key, const QByteArray& value);

private:
    QString path_;
};
