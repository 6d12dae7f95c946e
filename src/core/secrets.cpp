#include "core/secrets.h"

#include "core/text_cut.h"

#include <algorithm>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

constexpr QByteArrayView kLogin = "login";
constexpr qsizetype kDigestLength = 32;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A byte that belongs to a word, in ASCII or in an 8-bit code page.
bool isWordByte(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u > 127;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The bytes of `line` from `from` on that are not blanks: where they end.
qsizetype skipBlanks(QByteArrayView line, qsizetype from)
{
    while (from < line.size() && isBlank(line[from]))
        ++from;
    return from;
}

// True when no byte of a word adjoins the bytes from `from` up to `to`.
bool standsAlone(QByteArrayView line, qsizetype from, qsizetype to)
{
    return (from == 0 || !isWordByte(line[from - 1])) && (to >= line.size() || !isWordByte(line[to]));
}

// True when the word "login", in any case, stands at `at` and a blank follows it.
bool isLoginWordAt(QByteArrayView line, qsizetype at)
{
    const qsizetype end = at + kLogin.size();
    return end < line.size() && text::sameText(text::slice(line, at, end), kLogin) && standsAlone(line, at, end)
        && isBlank(line[end]);
}

// Where the digest after a "login" at `at` starts, or -1 when none follows it.
qsizetype digestAfterLogin(QByteArrayView line, qsizetype at)
{
    if (!isLoginWordAt(line, at))
        return -1;
    const qsizetype start = skipBlanks(line, at + kLogin.size());
    const QByteArrayView digest = text::slice(line, start, start + kDigestLength);
    const bool whole = digest.size() == kDigestLength && std::all_of(digest.begin(), digest.end(), isHexDigit)
        && standsAlone(line, start, start + kDigestLength);
    return whole ? start : -1;
}

bool isPasswordAt(QByteArrayView line, qsizetype at, QByteArrayView password)
{
    return !password.isEmpty() && text::slice(line, at, at + password.size()) == password
        && standsAlone(line, at, at + password.size());
}

} // namespace

namespace secrets {

bool isLoginCommand(QByteArrayView line)
{
    const qsizetype start = skipBlanks(line, 0);
    const QByteArrayView word = text::slice(line, start, start + kLogin.size());
    const qsizetype after = start + kLogin.size();
    return text::sameText(word, kLogin) && (after == line.size() || isBlank(line[after]));
}

QByteArray blotSecrets(QByteArrayView line, QByteArrayView password)
{
    if (isLoginCommand(line)) {
        // Whatever a login is given is a password or its digest, right or wrong.
        const qsizetype argument = skipBlanks(line, skipBlanks(line, 0) + kLogin.size());
        return argument == line.size() ? line.toByteArray() : line.first(argument).toByteArray().append(kBlot);
    }
    QByteArray result;
    qsizetype kept = 0; // bytes of `line` before this are in `result`
    for (qsizetype at = 0; at < line.size();) {
        if (isPasswordAt(line, at, password)) {
            result.append(text::slice(line, kept, at)).append(kBlot);
            kept = at += password.size();
        } else if (const qsizetype digest = digestAfterLogin(line, at); digest >= 0) {
            result.append(text::slice(line, kept, digest)).append(kBlot);
            kept = at = digest + kDigestLength;
        } else {
            ++at;
        }
    }
    return result.append(text::slice(line, kept, line.size()));
}

bool holdsSecret(QByteArrayView line, QByteArrayView password)
{
    return isLoginCommand(line) || blotSecrets(line, password) != line;
}

bool keepOutOfCoreDumps()
{
    // Both, as either alone can be undone by the system's settings: a
    // non-dumpable process is still dumped where fs.suid_dumpable is 2, and a
    // core size of 0 is not asked where cores go to a program.
    const rlimit none{0, 0};
    const bool limited = ::setrlimit(RLIMIT_CORE, &none) == 0;
    const bool undumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    return limited && undumpable;
}

} // namespace secrets
