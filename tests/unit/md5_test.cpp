// MD5 against the RFC 1321 test suite and against Qt's own digest.

#include "session/md5.h"
#include "support/printers.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>
#include <random>

namespace {

QByteArray QtHex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QByteArray RandomBytes(std::mt19937& random, qsizetype length)
{
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray bytes(length, Qt::Uninitialized);
    for (char& c : bytes)
        c = static_cast<char>(byte(random));
    return bytes;
}

bool IsLowercaseHex(const QByteArray& text)
{
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

TEST(Md5, MatchesTheRfcTestSuite)
{
    struct Case
    {
        const char* input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Md5HexDigest(c.input), QByteArray(c.digest)) << '"' << c.input << '"';
}

TEST(Md5, LengthsAroundThePaddingBoundariesMatchQt)
{
    std::mt19937 random(1321);
    for (const qsizetype length : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129}) {
        const QByteArray input = RandomBytes(random, length);
        EXPECT_EQ(Md5HexDigest(input), QtHex(input)) << length << " bytes";
    }
}

TEST(Md5, HighBytesAreDigestedAsSingleBytes)
{
    for (const char byte : {'\x80', '\xa9', '\xff', '\0'}) {
        const QByteArray one(1, byte);
        EXPECT_EQ(Md5HexDigest(one), QtHex(one)) << int(static_cast<unsigned char>(byte));
    }
    const QByteArray seedAndPassword("\x80\xe9\xff"
                                     "abc\xc3",
                                     7);
    EXPECT_EQ(Md5HexDigest(seedAndPassword), QtHex(seedAndPassword));
}

TEST(Md5, RandomInputsMatchQtAndAreLowercaseHex)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> length(0, 3000);
    for (int i = 0; i < 300; ++i) {
        const QByteArray input = RandomBytes(random, length(random));
        const QByteArray digest = Md5HexDigest(input);
        ASSERT_EQ(digest, QtHex(input)) << input.size() << " bytes";
        ASSERT_EQ(digest.size(), 32);
        ASSERT_TRUE(IsLowercaseHex(digest)) << digest.constData();
    }
}

TEST(Md5, UpdatesSplitAnywhereEqualOneUpdate)
{
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        const QByteArray input = RandomBytes(random, std::uniform_int_distribution<int>(0, 400)(random));
        const auto* bytes = reinterpret_cast<const unsigned char*>(input.constData());

        Md5Context context;
        Md5Init(context);
        std::size_t done = 0;
        while (done < std::size_t(input.size())) {
            const std::size_t piece = std::uniform_int_distribution<std::size_t>(0, 130)(random);
            const std::size_t length = std::min(piece, std::size_t(input.size()) - done);
            Md5Update(context, bytes + done, length);
            done += length;
        }
        unsigned char digest[16];
        Md5Final(digest, context);

        ASSERT_EQ(QByteArray(reinterpret_cast<const char*>(digest), 16).toHex(), QtHex(input)) << input.size();
    }
}

TEST(Md5, FinalLeavesTheContextZeroed)
{
    Md5Context context;
    Md5Init(context);
    const unsigned char secret[] = "seed and password, longer than one block of sixty-four bytes in all";
    Md5Update(context, secret, sizeof secret - 1);
    unsigned char digest[16];
    Md5Final(digest, context);

    const auto* bytes = reinterpret_cast<const unsigned char*>(&context);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof context, [](unsigned char b) { return b == 0; }));
}
