#pragma once

#include <QString>
#include <QStringList>

/// Values that break naive quoting or try to change a statement: quotes of every kind,
/// backslashes before quotes (an escape where a server reads backslashes in strings),
/// comment markers, statement separators, very long text, control characters, empty
/// and blank text.
inline QStringList hostileValues()
{
    return {
        QStringLiteral("O'Brien"),
        QStringLiteral("'"),
        QStringLiteral("''"),
        QStringLiteral("x' OR '1'='1"),
        QStringLiteral("'; DROP TABLE WO_WorkOrders; --"),
        QStringLiteral("P-101'); DELETE FROM GS_Assets; --"),
        QStringLiteral("\\'; SELECT 1; --"),
        QStringLiteral("a\\"),
        QStringLiteral("\\'; DELETE FROM WO_WorkOrders; --"),
        QStringLiteral("\\' OR 1=1 --"),
        QStringLiteral("\\', 3, NULL); UPDATE GS_Assets SET Descr = NULL; --"),
        QStringLiteral("\\\\'"),
        QStringLiteral("a\\\\\\'b"),
        QStringLiteral("\\\\"),
        QStringLiteral("\"quoted\""),
        QStringLiteral("/* open comment"),
        QStringLiteral("-- trailing comment"),
        QStringLiteral(";"),
        QStringLiteral("a;b=c"),
        QStringLiteral("%_*?[]"),
        QString(QChar(0x2019)) + QStringLiteral("s"),           // right single quotation mark
        QString(QChar(0xFF07)) + QStringLiteral(" OR 1=1 --"),  // fullwidth apostrophe
        QString(QChar(0x02BC)) + QStringLiteral("x"),           // modifier letter apostrophe
        QStringLiteral("Fräsen ünd Schweißen"),
        QString(5000, QLatin1Char('A')) + QStringLiteral("'"),
        QStringLiteral("tab\there\r\nnew line"),
        QString(QChar(1)) + QString(QChar(0x1f)) + QStringLiteral("ctl"),
        QString(),
        QStringLiteral("   "),
        QStringLiteral(",,,"),
        QStringLiteral("$$; SELECT 1; $$"),
    };
}
