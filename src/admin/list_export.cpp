#include "admin/list_export.h"

#include "admin/list_fields.h"

namespace list_export {

namespace {

QByteArray field(const list_fields::Text& text)
{
    return text ? csvField(*text) : QByteArray();
}

QByteArray field(const list_fields::Number& number)
{
    return number ? QByteArray::number(*number) : QByteArray();
}

QByteArray joined(const QList<QByteArray>& fields)
{
    return fields.join(',');
}

} // namespace

QByteArray csvField(QByteArrayView text)
{
    const bool formula = !text.isEmpty() && QByteArrayView("=+-@").contains(text.front());
    const QByteArray cell = formula ? '\'' + text.toByteArray() : text.toByteArray();
    const bool quoted = cell.contains(',') || cell.contains('"') || cell.contains('\n') || cell.contains('\r')
        || (!cell.isEmpty() && (cell.front() == ' ' || cell.back() == ' '));
    if (!quoted)
        return cell;
    return '"' + QByteArray(cell).replace('"', "\"\"") + '"';
}

QList<QByteArray> playersCsv(const QList<QByteArray>& entries)
{
    QList<QByteArray> lines = {"id,name,address,port,key_hash"};
    for (const QByteArray& entry : entries) {
        const list_fields::PlayerFields player = list_fields::playerFields(entry);
        lines.append(joined(
            {field(player.id), field(player.name), field(player.address), field(player.port), field(player.keyHash)}));
    }
    return lines;
}

QList<QByteArray> bansCsv(const QList<QByteArray>& entries)
{
    QList<QByteArray> lines = {"key,period"};
    for (const QByteArray& entry : entries) {
        const list_fields::BanFields ban = list_fields::banFields(entry);
        lines.append(joined({field(ban.key), field(ban.period)}));
    }
    return lines;
}

} // namespace list_export
