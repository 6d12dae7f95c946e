#include "core/file_problem.h"

#include <QFile>

std::variant<QByteArray, FileProblem> readWrittenFile(const QString& path, qint64 bound)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileProblem{0, 0, QStringLiteral("cannot be read: ") + file.errorString()};
    QByteArray text = file.read(bound + 1);
    if (text.size() > bound)
        return FileProblem{0, 0, QStringLiteral("is larger than %1 MiB").arg(bound / (1024 * 1024))};
    return text;
}
