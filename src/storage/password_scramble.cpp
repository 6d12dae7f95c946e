#include "storage/password_scramble.h"

namespace {

// The key's characters, each a constant of its own. Changing any of them makes
// every stored password unreadable.
const char kKey01 = 'v';
const char kKey02 = '3';
const char kKey03 = 'K';
const char kKey04 = 'e';
const char kKey05 = '9';
const char kKey06 = 'T';
const char kKey07 = 'q';
const char kKey08 = '1';
const char kKey09 = 'H';
const char kKey10 = 'z';
const char kKey11 = '6';
const char kKey12 = 'B';
const char kKey13 = 'm';
const char kKey14 = '5';
const char kKey15 = 'W';

const char* const kKeyParts[] = {&kKey02, &kKey03, &kKey04, &kKey05, &kKey06, &kKey07, &kKey08,
                                 &kKey09, &kKey10, &kKey11, &kKey12, &kKey13, &kKey14, &kKey15};

// Overwrites the text's bytes in a way the compiler may not leave out.
void wipe(QByteArray& text)
{
    volatile char* bytes = text.data();
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = 0;
}

QByteArray scrambleBytes(const QByteArray& text)
{
    QByteArray key = scrambleKey();
    QByteArray result = text;
    qsizetype k = 0;
    for (qsizetype i = 0; i < result.size(); ++i) {
        result[i] = static_cast<char>(result[i] ^ (key[k] & 0x0F));
        if (++k == key.size())
            k = 0;
    }
    wipe(key);
    return result;
}

} // namespace

QByteArray scrambleKey()
{
    // Grown one character at a time, each step in a text one longer than the
    // last; the shorter steps are wiped as they are left behind.
    QByteArray key(1, kKey01);
    for (const char* part : kKeyParts) {
        QByteArray longer;
        longer.reserve(key.size() + 1);
        longer.append(key).append(*part);
        wipe(key);
        key = std::move(longer);
    }
    return key;
}

QByteArray scramble(const QByteArray& plain)
{
    return scrambleBytes(plain);
}

QByteArray unscramble(const QByteArray& scrambled)
{
    return scrambleBytes(scrambled);
}
