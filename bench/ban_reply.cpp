#include "ban_reply.h"

#include <map>
#include <random>

QByteArray banListReply(int lines)
{
    static const char digits[] = "0123456789abcdef";
    std::mt19937 random(20050621);
    QByteArray reply;
    reply.reserve(qsizetype(lines) * 44 + 1);
    for (int i = 0; i < lines; ++i) {
        reply += "Key: ";
        for (int d = 0; d < 32; ++d)
            reply += digits[random() % 16];
        reply += i % 2 == 0 ? " Perm\n" : " Round\n";
    }
    reply += '\x04';
    return reply;
}

const QByteArray& banListReplyOf(int lines)
{
    static std::map<int, QByteArray> made;
    auto [at, isNew] = made.try_emplace(lines);
    if (isNew)
        at->second = banListReply(lines);
    return at->second;
}

QList<QByteArray> cutIntoReads(const QByteArray& bytes, qsizetype readSize)
{
    QList<QByteArray> reads;
    for (qsizetype at = 0; at < bytes.size(); at += readSize)
        reads.append(bytes.mid(at, readSize));
    return reads;
}
