#include "sqlscript_p.h"

namespace Orvantel::DemoData {

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Length of the dollar-quote tag ("$$" or "$name$") starting at i, 0 if none.
qsizetype dollarTagLength(const QString &s, qsizetype i)
{
    qsizetype j = i + 1;
    if (j < s.size() && s.at(j).isDigit())
        return 0;
    while (j < s.size() && isWordChar(s.at(j)))
        ++j;
    return j < s.size() && s.at(j) == QLatin1Char('$') ? j - i + 1 : 0;
}

} // namespace

QStringList splitSqlScript(const QString &script, ScriptDialect dialect)
{
    QStringList statements;
    qsizetype start = 0;
    bool hasContent = false;
    QStringList leadingWords; // the first words of the current statement
    QString lastWord;
    QString word;

    auto endWord = [&] {
        if (word.isEmpty())
            return;
        if (leadingWords.size() < 3)
            leadingWords.append(word.toUpper());
        lastWord = word;
        word.clear();
    };
    auto isTrigger = [&] {
        if (dialect != ScriptDialect::SQLite || leadingWords.value(0) != QLatin1String("CREATE"))
            return false;
        const QString second = leadingWords.value(1);
        if (second == QLatin1String("TEMP") || second == QLatin1String("TEMPORARY"))
            return leadingWords.value(2) == QLatin1String("TRIGGER");
        return second == QLatin1String("TRIGGER");
    };

    const qsizetype n = script.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = script.at(i);
        const QChar next = i + 1 < n ? script.at(i + 1) : QChar();
        if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            endWord();
            const qsizetype eol = script.indexOf(QLatin1Char('\n'), i);
            i = eol < 0 ? n : eol + 1;
            continue;
        }
        if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            endWord();
            const qsizetype close = script.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 2;
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            endWord();
            hasContent = true;
            // A doubled quote inside reads as closing and reopening, which ends the same way.
            const qsizetype close = script.indexOf(c, i + 1);
            i = close < 0 ? n : close + 1;
            continue;
        }
        if (c == QLatin1Char('$') && word.isEmpty()) {
            if (const qsizetype tagLength = dollarTagLength(script, i)) {
                hasContent = true;
                const QString tag = script.mid(i, tagLength);
                const qsizetype close = script.indexOf(tag, i + tagLength);
                i = close < 0 ? n : close + tagLength;
                continue;
            }
        }
        if (isWordChar(c)) {
            word += c;
            hasContent = true;
            ++i;
            continue;
        }
        endWord();
        if (c == QLatin1Char(';')
            && (!isTrigger() || lastWord.compare(QLatin1String("END"), Qt::CaseInsensitive) == 0)) {
            if (hasContent)
                statements.append(script.mid(start, i - start).trimmed());
            start = i + 1;
            hasContent = false;
            leadingWords.clear();
            lastWord.clear();
        } else if (!c.isSpace()) {
            hasContent = true;
            lastWord.clear();
        }
        ++i;
    }
    endWord();
    if (hasContent)
        statements.append(script.mid(start).trimmed());
    return statements;
}

} // namespace Orvantel::DemoData
