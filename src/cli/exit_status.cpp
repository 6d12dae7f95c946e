#include "cli/exit_status.h"

namespace {

int severity(ExitStatus status)
{
    switch (status) {
    case ExitStatus::Answered: return 0;
    case ExitStatus::ReplyTimedOut: return 1;
    case ExitStatus::LoginFailed: return 2;
    case ExitStatus::ConnectionFailed: return 3;
    case ExitStatus::Usage: break;
    }
    return 4;
}

} // namespace

ExitStatus worse(ExitStatus a, ExitStatus b)
{
    return severity(b) > severity(a) ? b : a;
}

QByteArray describe(ExitStatus status)
{
    switch (status) {
    case ExitStatus::Answered: return "answered";
    case ExitStatus::LoginFailed: return "login failed";
    case ExitStatus::Usage: return "not started";
    case ExitStatus::ConnectionFailed: return "connection failed";
    case ExitStatus::ReplyTimedOut: return "reply timed out";
    }
    return "unknown";
}
