#include "textconv.h"
#include "controlerror.h"

#include <QTest>

using namespace Orvantel;

/// How the settings' texts become numbers and flags.
class TextConvTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void convertsText_data()
    {
        // Each text through the three conversions: textToInt16, isNumericText and textToBool.
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("int16"); // the number, or the error's message text
        QTest::addColumn<bool>("numeric");
        QTest::addColumn<QString>("flag"); // "true", "false", or the error's message text
        const char *overflow = "Error 6\r\nOverflow";
        const char *mismatch = "Error 13\r\nType mismatch";
        auto row = [](const char *name, const char *text, const char *int16, bool numeric, const char *flag) {
            QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(int16) << numeric
                                << QString::fromUtf8(flag);
        };
        row("plain", "30", "30", true, "true");
        row("zero", "0", "0", true, "false");
        row("zero with decimals", "0.0", "0", true, "false");
        row("2.5 rounds to even", "2.5", "2", true, "true");
        row("3.5 rounds to even", "3.5", "4", true, "true");
        row("-2.5 rounds to even", "-2.5", "-2", true, "true");
        row("2.51 rounds up", "2.51", "3", true, "true");
        row("blanks around", "  7 ", "7", true, "true");
        row("plus sign", "+4", "4", true, "true");
        row("fraction without integer part", ".6", "1", true, "true");
        row("exponent", "1e3", "1000", true, "true");
        row("tiny exponent", "1e-999", "0", true, "false");
        row("leading number only", "12abc", "12", false, mismatch);
        row("two numbers", "1 2", "1", false, mismatch);
        row("exponent without digits", "2e", "2", false, mismatch);
        row("comma is no decimal point", "2,7", "2", false, mismatch);
        row("no number", "abc", "0", false, mismatch);
        row("empty", "", "0", false, mismatch);
        row("blanks only", "   ", "0", false, mismatch);
        row("sign alone", "-", "0", false, mismatch);
        row("point alone", ".", "0", false, mismatch);
        row("False", "False", "0", false, "false");
        row("true in any case, blanks around", " TRUE ", "0", false, "true");
        row("yes", "yes", "0", false, mismatch);
        row("upper bound", "32767", "32767", true, "true");
        row("lower bound", "-32768", "-32768", true, "true");
        row("32767.4 stays in range", "32767.4", "32767", true, "true");
        row("-32768.5 rounds to even inside", "-32768.5", "-32768", true, "true");
        row("32768", "32768", overflow, true, "true");
        row("32767.5 rounds out", "32767.5", overflow, true, "true");
        row("-32769", "-32769", overflow, true, "true");
        row("9e9", "9e9", overflow, true, "true");
        row("huge exponent", "1e999", overflow, true, "true");
    }
    void convertsText()
    {
        QFETCH(QString, text);
        QFETCH(QString, int16);
        QFETCH(bool, numeric);
        QFETCH(QString, flag);
        auto outcome = [](auto convert) {
            try {
                return convert();
            } catch (const ControlError &e) {
                return e.messageText();
            }
        };
        QCOMPARE(outcome([&] { return QString::number(textToInt16(text)); }), int16);
        QCOMPARE(isNumericText(text), numeric);
        QCOMPARE(outcome([&] { return QString::fromLatin1(textToBool(text) ? "true" : "false"); }), flag);
    }
};

QTEST_APPLESS_MAIN(TextConvTest)
#include "tst_textconv.moc"
