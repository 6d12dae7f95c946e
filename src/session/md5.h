#pragma once

// MD5 message digest (RFC 1321). The login answer is the digest of the
// server's seed and the password, written as lowercase hexadecimal.

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>

// The 32 lowercase hexadecimal digits of the MD5 digest of `text`'s bytes.
QByteArray Md5HexDigest(QByteArrayView text);

// The running state of one digest.
struct Md5Context
{
    std::uint32_t state[4];
    std::uint32_t count[2];   // bits digested so far, modulo 2^64, low word first
    unsigned char buffer[64]; // input that does not yet fill a block
};

void Md5Init(Md5Context& context);
void Md5Update(Md5Context& context, const unsigned char* input, std::size_t length);
// Writes the 16 digest bytes and leaves the context all zeros, so nothing of
// the digested input stays behind in memory.
void Md5Final(unsigned char digest[16], Md5Context& context);
