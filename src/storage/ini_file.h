#pragma once

// An INI file changed key by key, the way the Windows private-profile
// functions change it: setting a key changes that key's value alone and
// leaves every other byte of the file as it was (sections, keys, comments,
// blank lines and line ends), which general INI libraries, rewriting the
// whole file, do not. The file is read once; changes are made to its bytes in
// memory and written back in one save.
//
// Section and key names match without regard to ASCII letter case and to
// blanks around them; a value is everything after the first "=" of its line,
// blanks included, up to its first line break. The first matching section and
// key count.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class IniFile
{
public:
    // The longest value a read returns; longer stored values are cut.
    static constexpr qsizetype kMaxValueLength = 2047;

    // Reads `path`. A file that is missing or cannot be read reads as empty.
    explicit IniFile(QString path);

    const QString& path() const { return path_; }

    // The key's value, or `fallback` when the section or the key is missing.
    QByteArray value(QByteArrayView section, QByteArrayView key, const QByteArray& fallback) const;

    // The key's value as a whole number (see parseInteger); `fallback` when the
    // key is missing or its value is empty, not a number or out of range.
    qint32 integer(QByteArrayView section, QByteArrayView key, qint32 fallback) const;

    // Sets the key's value, adding the section or the key when missing: a new
    // key goes after the last key of its section, a new section at the end of
    // the file. A value ends at its first line break, which could not be stored.
    void setValue(QByteArrayView section, QByteArrayView key, const QByteArray& value);

    // Writes the file in one go, creating it readable by its owner only.
    // False, leaving the file as it was, when it may not be written, the write
    // fails, or the file could not be read (saving would lose what it holds).
    // A file that may not be written for whose it is (see WriteRules) raises
    // FileRefused instead, so that the reason can be told.
    bool save() const;

private:
    QString path_;
    QByteArray data_;
    bool readable_ = true;
};
