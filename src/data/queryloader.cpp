#include "loaders.h"

#include "controlerror.h"

#include <QDate>
#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTime>

namespace Orvantel {

namespace {

void appendVariant(RecordColumn &column, const QVariant &value)
{
    if (value.isNull()) {
        column.appendNull();
        return;
    }
    auto appendUtf8
            = [&column](const QByteArray &utf8) { column.appendText(utf8.constData(), std::size_t(utf8.size())); };
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        column.appendInteger(value.toLongLong());
        break;
    case QMetaType::ULongLong: {
        const qulonglong v = value.toULongLong();
        if (v <= qulonglong(std::numeric_limits<qint64>::max()))
            column.appendInteger(qint64(v));
        else
            column.appendReal(double(v));
        break;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        column.appendReal(value.toDouble());
        break;
    case QMetaType::QDateTime:
        appendUtf8(value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8());
        break;
    case QMetaType::QDate:
        appendUtf8(value.toDate().toString(QStringLiteral("yyyy-MM-dd")).toUtf8());
        break;
    case QMetaType::QTime:
        appendUtf8(value.toTime().toString(QStringLiteral("hh:mm:ss")).toUtf8());
        break;
    case QMetaType::QByteArray:
        appendUtf8(value.toByteArray());
        break;
    default:
        appendUtf8(value.toString().toUtf8());
        break;
    }
}

} // namespace

ColumnStore loadQuery(QSqlQuery &query, int rowLimit)
{
    if (query.lastError().isValid())
        throw ControlError::fromSqlError(query.lastError());
    if (!query.isActive())
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The query has not been run"));

    const QSqlRecord record = query.record();
    const int fields = record.count();
    QStringList names;
    for (int i = 0; i < fields; ++i)
        names.append(record.fieldName(i));
    ColumnStore store(names);
    RecordColumn *columns = store.columns();

    while (store.recordCount() < rowLimit && query.next()) {
        for (int i = 0; i < fields; ++i)
            appendVariant(columns[i], query.value(i));
        store.endRecord();
    }
    if (query.lastError().isValid())
        throw ControlError::fromSqlError(query.lastError());
    store.finish();
    return store;
}

} // namespace Orvantel
