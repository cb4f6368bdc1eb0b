#include "textconv.h"
#include "controlerror.h"

#include <QTest>

using namespace Orvantel;

class TextConvTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void textToInt16_data();
    void textToInt16();
    void numericText_data();
    void numericText();
    void textToBool_data();
    void textToBool();
};

void TextConvTest::textToInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");  // invalid: error 6, "Overflow"
    const QVariant overflow;
    QTest::addRow("plain") << "30" << QVariant(30);
    QTest::addRow("2.5 rounds to even") << "2.5" << QVariant(2);
    QTest::addRow("3.5 rounds to even") << "3.5" << QVariant(4);
    QTest::addRow("-2.5 rounds to even") << "-2.5" << QVariant(-2);
    QTest::addRow("2.51 rounds up") << "2.51" << QVariant(3);
    QTest::addRow("leading number only") << "12abc" << QVariant(12);
    QTest::addRow("no number") << "abc" << QVariant(0);
    QTest::addRow("empty") << "" << QVariant(0);
    QTest::addRow("leading blanks") << "  7" << QVariant(7);
    QTest::addRow("plus sign") << "+4" << QVariant(4);
    QTest::addRow("fraction without integer part") << ".6" << QVariant(1);
    QTest::addRow("exponent") << "1e3" << QVariant(1000);
    QTest::addRow("exponent without digits is not one") << "2e" << QVariant(2);
    QTest::addRow("comma is not a decimal point") << "2,7" << QVariant(2);
    QTest::addRow("sign alone") << "-" << QVariant(0);
    QTest::addRow("tiny exponent") << "1e-999" << QVariant(0);
    QTest::addRow("upper bound") << "32767" << QVariant(32767);
    QTest::addRow("lower bound") << "-32768" << QVariant(-32768);
    QTest::addRow("32767.4 stays in range") << "32767.4" << QVariant(32767);
    QTest::addRow("-32768.5 rounds to even inside") << "-32768.5" << QVariant(-32768);
    QTest::addRow("32768") << "32768" << overflow;
    QTest::addRow("32767.5 rounds out") << "32767.5" << overflow;
    QTest::addRow("-32769") << "-32769" << overflow;
    QTest::addRow("40000") << "40000" << overflow;
    QTest::addRow("9e9") << "9e9" << overflow;
    QTest::addRow("huge exponent") << "1e999" << overflow;
}

void TextConvTest::textToInt16()
{
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    try {
        const int value = Orvantel::textToInt16(text);
        QVERIFY2(expected.isValid(), "no overflow");
        QCOMPARE(value, expected.toInt());
    } catch (const ControlError &e) {
        QVERIFY2(!expected.isValid(), qPrintable(e.messageText()));
        QCOMPARE(e.messageText(), QStringLiteral("Error 6\r\nOverflow"));
    }
}

void TextConvTest::numericText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addRow("digits") << "30" << true;
    QTest::addRow("blanks around") << " 7 " << true;
    QTest::addRow("decimal") << "2.5" << true;
    QTest::addRow("exponent") << "9e9" << true;
    QTest::addRow("signed") << "-5" << true;
    QTest::addRow("empty") << "" << false;
    QTest::addRow("blank") << "   " << false;
    QTest::addRow("letters") << "abc" << false;
    QTest::addRow("trailing letter") << "1x" << false;
    QTest::addRow("two numbers") << "1 2" << false;
    QTest::addRow("point alone") << "." << false;
}

void TextConvTest::numericText()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QCOMPARE(Orvantel::isNumericText(text), numeric);
}

void TextConvTest::textToBool_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");  // invalid: error 13, "Type mismatch"
    QTest::addRow("1") << "1" << QVariant(true);
    QTest::addRow("0") << "0" << QVariant(false);
    QTest::addRow("-1") << "-1" << QVariant(true);
    QTest::addRow("0.0") << "0.0" << QVariant(false);
    QTest::addRow("TRUE") << "TRUE" << QVariant(true);
    QTest::addRow("False") << "False" << QVariant(false);
    QTest::addRow("blanks") << " true " << QVariant(true);
    QTest::addRow("yes") << "yes" << QVariant();
    QTest::addRow("empty") << "" << QVariant();
    QTest::addRow("1x") << "1x" << QVariant();
}

void TextConvTest::textToBool()
{
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    try {
        const bool value = Orvantel::textToBool(text);
        QVERIFY2(expected.isValid(), "accepted");
        QCOMPARE(value, expected.toBool());
    } catch (const ControlError &e) {
        QVERIFY2(!expected.isValid(), qPrintable(e.messageText()));
        QCOMPARE(e.messageText(), QStringLiteral("Error 13\r\nType mismatch"));
    }
}

QTEST_APPLESS_MAIN(TextConvTest)
#include "tst_textconv.moc"
