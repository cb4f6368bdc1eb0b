#include "control/textconv.h"
#include "data/controlerror.h"

#include <QTest>

using namespace Orvantel;

class TextConvTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void textToInt16_data();
    void textToInt16();
    void textToInt16Overflows_data();
    void textToInt16Overflows();
    void numericText_data();
    void numericText();
    void textToBool_data();
    void textToBool();
    void textToBoolRejects_data();
    void textToBoolRejects();
};

void TextConvTest::textToInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::addRow("plain") << "30" << 30;
    QTest::addRow("2.5 rounds to even") << "2.5" << 2;
    QTest::addRow("3.5 rounds to even") << "3.5" << 4;
    QTest::addRow("-2.5 rounds to even") << "-2.5" << -2;
    QTest::addRow("2.51 rounds up") << "2.51" << 3;
    QTest::addRow("leading number only") << "12abc" << 12;
    QTest::addRow("no number") << "abc" << 0;
    QTest::addRow("empty") << "" << 0;
    QTest::addRow("leading blanks") << "  7" << 7;
    QTest::addRow("negative") << "-5" << -5;
    QTest::addRow("plus sign") << "+4" << 4;
    QTest::addRow("fraction without integer part") << ".6" << 1;
    QTest::addRow("exponent") << "1e3" << 1000;
    QTest::addRow("exponent without digits is not one") << "2e" << 2;
    QTest::addRow("comma is not a decimal point") << "2,7" << 2;
    QTest::addRow("upper bound") << "32767" << 32767;
    QTest::addRow("lower bound") << "-32768" << -32768;
    QTest::addRow("32767.4 stays in range") << "32767.4" << 32767;
    QTest::addRow("-32768.5 rounds to even inside") << "-32768.5" << -32768;
    QTest::addRow("tiny exponent") << "1e-999" << 0;
    QTest::addRow("sign alone") << "-" << 0;
}

void TextConvTest::textToInt16()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(int(Orvantel::textToInt16(text)), expected);
}

void TextConvTest::textToInt16Overflows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addRow("32768") << "32768";
    QTest::addRow("32767.5 rounds out") << "32767.5";
    QTest::addRow("-32769") << "-32769";
    QTest::addRow("40000") << "40000";
    QTest::addRow("9e9") << "9e9";
    QTest::addRow("huge exponent") << "1e999";
}

void TextConvTest::textToInt16Overflows()
{
    QFETCH(QString, text);
    try {
        Orvantel::textToInt16(text);
        QFAIL("no overflow");
    } catch (const ControlError &e) {
        QCOMPARE(e.number, 6);
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
    QTest::addColumn<bool>("expected");
    QTest::addRow("1") << "1" << true;
    QTest::addRow("0") << "0" << false;
    QTest::addRow("-1") << "-1" << true;
    QTest::addRow("0.0") << "0.0" << false;
    QTest::addRow("true") << "true" << true;
    QTest::addRow("TRUE") << "TRUE" << true;
    QTest::addRow("False") << "False" << false;
    QTest::addRow("blanks") << " true " << true;
}

void TextConvTest::textToBool()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(Orvantel::textToBool(text), expected);
}

void TextConvTest::textToBoolRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::addRow("yes") << "yes";
    QTest::addRow("empty") << "";
    QTest::addRow("on") << "on";
    QTest::addRow("1x") << "1x";
}

void TextConvTest::textToBoolRejects()
{
    QFETCH(QString, text);
    try {
        Orvantel::textToBool(text);
        QFAIL("accepted");
    } catch (const ControlError &e) {
        QCOMPARE(e.number, 13);
        QCOMPARE(e.description, QStringLiteral("Type mismatch"));
    }
}

QTEST_APPLESS_MAIN(TextConvTest)
#include "tst_textconv.moc"
