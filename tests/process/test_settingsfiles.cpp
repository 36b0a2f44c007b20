#include "process/NumberText.h"
#include "process/SettingsFiles.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cfenv>
#include <clocale>
#include <cstdlib>
#include <unistd.h>

using namespace SettingsFiles;

class TestSettingsFiles : public QObject
{
    Q_OBJECT
private slots:
    void setupRecordsAreQuotedCrLfLines_data();
    void setupRecordsAreQuotedCrLfLines();
    void wholeSetupFile();
    void optionsRecordsArePlainCrLfIntegers();
    void readFields_data();
    void readFields();
    void folderRoundTrip_data();
    void folderRoundTrip();
    void recordAsIndex_data();
    void recordAsIndex();
    void parseOptions_data();
    void parseOptions();
    void leadingNumber_data();
    void leadingNumber();
    void leadingNumberReadsAPointInAnyLocale();
    void positiveNumbers_data();
    void positiveNumbers();
    void roundHalfEven_data();
    void roundHalfEven();
    void writeFileCreatesFolderAndReplacesWhole();
    void failedWriteKeepsOldContent();
};

void TestSettingsFiles::setupRecordsAreQuotedCrLfLines_data()
{
    QTest::addColumn<int>("record");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("index 13") << 0 << QByteArray("\x22\x31\x33\x22\x0D\x0A");
    QTest::newRow("index -1") << 1 << QByteArray("\"-1\"\r\n");
    QTest::newRow("channel 0") << 2 << QByteArray("\"0\"\r\n");
    QTest::newRow("empty folder") << 3 << QByteArray("\x22\x22\x0D\x0A");
    QTest::newRow("second format") << 4 << QByteArray("\x22\x31\x22\x0D\x0A");
}

void TestSettingsFiles::setupRecordsAreQuotedCrLfLines()
{
    QFETCH(int, record);
    QFETCH(QByteArray, line);
    SetupValues values;
    values.audioBitrateIndex = 13;
    values.sampleRateIndex = -1;
    values.channelIndex = 0;
    values.outputFolder = QString();
    values.formatIndex = 1;
    const QList<QByteArray> lines = formatSetup(values).split('\n');
    QCOMPARE(lines.size(), 6); // five records and what follows the last line end
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines.at(record) + '\n', line);
}

void TestSettingsFiles::wholeSetupFile()
{
    SetupValues values{7, 1, 1, QStringLiteral("/home/li/视频 输出"), 3};
    QCOMPARE(formatSetup(values),
             QByteArray("\"7\"\r\n\"1\"\r\n\"1\"\r\n\"/home/li/\xE8\xA7\x86\xE9\xA2\x91 "
                        "\xE8\xBE\x93\xE5\x87\xBA\"\r\n\"3\"\r\n"));
}

void TestSettingsFiles::optionsRecordsArePlainCrLfIntegers()
{
    QCOMPARE(formatOptions({0, 0, 90, 0}), QByteArray("0\r\n0\r\n\x39\x30\x0D\x0A"
                                                      "0\r\n"));
    QCOMPARE(formatOptions({-1, 1, 5400, -30}), QByteArray("-1\r\n1\r\n5400\r\n-30\r\n"));
}

void TestSettingsFiles::readFields_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("max");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("quoted records")
        << QByteArray("\"13\"\r\n\"1\"\r\n") << 5 << QStringList{"13", "1"};
    QTest::newRow("comma inside quotes")
        << QByteArray("\"a,b\"\r\n\"2\"\r\n") << 5 << QStringList{"a,b", "2"};
    QTest::newRow("unquoted comma splits")
        << QByteArray("1,2\r\n3\r\n") << 5 << QStringList{"1", "2", "3"};
    QTest::newRow("leading blanks skipped")
        << QByteArray("   \"x\"\r\n  7 \r\n") << 5 << QStringList{"x", "7"};
    QTest::newRow("bare LF lines") << QByteArray("1\n2\n") << 5 << QStringList{"1", "2"};
    QTest::newRow("empty quoted") << QByteArray("\"\"\r\n\"4\"\r\n") << 5 << QStringList{"", "4"};
    QTest::newRow("unclosed quote runs into the next line")
        << QByteArray("\"abc\r\n\"1\"\r\n") << 5 << QStringList{"abc\r\n"};
    QTest::newRow("stops at max") << QByteArray("1\r\n2\r\n3\r\n") << 2 << QStringList{"1", "2"};
    QTest::newRow("empty file") << QByteArray() << 5 << QStringList{};
}

void TestSettingsFiles::readFields()
{
    QFETCH(QByteArray, content);
    QFETCH(int, max);
    QFETCH(QStringList, fields);
    QCOMPARE(SettingsFiles::readFields(content, max), fields);
}

void TestSettingsFiles::folderRoundTrip_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("comma") << QStringLiteral("/srv/a,b/out");
    QTest::newRow("chinese and blanks") << QStringLiteral("/home/李 雷/我的 视频, 2024");
    QTest::newRow("empty") << QString();
    QTest::newRow("leading blanks") << QStringLiteral("  /x");
}

void TestSettingsFiles::folderRoundTrip()
{
    QFETCH(QString, folder);
    const QByteArray bytes = formatSetup({5, 2, 0, folder, 8});
    const QStringList fields = SettingsFiles::readFields(bytes, 5);
    QCOMPARE(fields.size(), 5);
    QCOMPARE(fields.at(3), folder);
    QCOMPARE(fields.at(4), QStringLiteral("8"));
}

void TestSettingsFiles::recordAsIndex_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("index"); // -100: not an index
    QTest::newRow("13") << "13" << 13;
    QTest::newRow("-1") << "-1" << -1;
    QTest::newRow("blanks") << " 4 " << 4;
    QTest::newRow("half to even") << "2.5" << 2;
    QTest::newRow("text") << "abc" << -100;
    QTest::newRow("leading number only") << "12abc" << -100;
    QTest::newRow("empty") << "" << -100;
    QTest::newRow("too large") << "99999" << -100;
}

void TestSettingsFiles::recordAsIndex()
{
    QFETCH(QString, field);
    QFETCH(int, index);
    const std::optional<int> result = SettingsFiles::recordAsIndex(field);
    QCOMPARE(result.value_or(-100), index);
}

void TestSettingsFiles::parseOptions_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<int>>("values");
    QTest::newRow("documented example")
        << QByteArray("1\r\n0\r\n90\r\n300\r\n") << QList<int>{1, 0, 90, 300};
    QTest::newRow("leading numbers")
        << QByteArray("1abc\r\nx\r\n 90s\r\n-5\r\n") << QList<int>{1, 0, 90, -5};
    QTest::newRow("half to even") << QByteArray("0.5\r\n1.5\r\n2.5\r\n3.5\r\n")
                                  << QList<int>{0, 2, 2, 4};
    QTest::newRow("short file keeps defaults") << QByteArray("1\r\n") << QList<int>{1, 0, 0, 0};
    QTest::newRow("too large for the type keeps defaults")
        << QByteArray("99999\r\n1\r\n99999999999\r\n7\r\n") << QList<int>{0, 1, 0, 7};
    QTest::newRow("binary junk") << QByteArray("\x01\xff\xfe\x00\x80,,\r\r\n\x7f", 12)
                                 << QList<int>{0, 0, 0, 0};
    QTest::newRow("empty") << QByteArray() << QList<int>{0, 0, 0, 0};
    QTest::newRow("lines after the last are ignored")
        << QByteArray("1\r\n1\r\n2\r\n3\r\n9\r\n9\r\n") << QList<int>{1, 1, 2, 3};
}

void TestSettingsFiles::parseOptions()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<int>, values);
    const OptionsValues parsed = SettingsFiles::parseOptions(content);
    QCOMPARE(QList<int>({parsed.SoundPrompt, parsed.MusicCutter, parsed.CutStart, parsed.CutEnd}),
             values);
}

void TestSettingsFiles::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");
    QTest::newRow("12abc") << "12abc" << 12.0;
    QTest::newRow("abc") << "abc" << 0.0;
    QTest::newRow("1.5") << "1.5" << 1.5;
    QTest::newRow("leading blanks") << "   45%" << 45.0;
    QTest::newRow("negative") << "-3.25x" << -3.25;
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("fraction only") << ".5" << 0.5;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("time field") << "900.00 bitrate" << 900.0;
    QTest::newRow("empty") << "" << 0.0;
}

void TestSettingsFiles::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, number);
    QCOMPARE(NumberText::leadingNumber(text), number);
}

// What an option box or a command-line value may hold where a positive number is asked for.
void TestSettingsFiles::positiveNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("decimal");
    QTest::addColumn<bool>("whole");
    const auto row = [](const char *text, bool decimal, bool whole) {
        QTest::newRow(*text ? text : "empty") << QString::fromUtf8(text) << decimal << whole;
    };
    row("600", true, true);
    row("044100", true, true);
    row("12.2", true, false);
    row("0", false, false);
    row("000", false, false);
    row("0.0", false, false);
    row("0.5", true, false);
    row("1.", false, false);
    row(".5", false, false);
    row("1.2.3", false, false);
    row("1e3", false, false);
    row("-1", false, false);
    row("+6", false, false);
    row(" 5", false, false);
    row("5 ", false, false);
    row("600\n", false, false);
    row("", false, false);
    row("６", false, false); // a full-width digit
}

void TestSettingsFiles::positiveNumbers()
{
    QFETCH(QString, text);
    QFETCH(bool, decimal);
    QFETCH(bool, whole);
    QCOMPARE(NumberText::isPositiveDecimal(text), decimal);
    QCOMPARE(NumberText::isPositiveWhole(text), whole);
}

// Qt sets the C library's locale from the environment at start-up; in a locale with a decimal
// comma, strtod read "1.5" as 1. A German locale is compiled for this test alone.
void TestSettingsFiles::leadingNumberReadsAPointInAnyLocale()
{
    QTemporaryDir locales;
    QVERIFY(locales.isValid());
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")});
    QVERIFY2(localedef.waitForFinished(60000), "localedef (package locales) did not run");
    qputenv("LOCPATH", QFile::encodeName(locales.path()));
    const QByteArray before = setlocale(LC_NUMERIC, nullptr);
    QVERIFY2(setlocale(LC_NUMERIC, "de_DE.UTF-8"), qPrintable(localedef.readAllStandardError()));
    const double comma = std::strtod("1,5", nullptr);
    const double point = NumberText::leadingNumber(u"1.5");
    const double time = NumberText::leadingNumber(u"12.75 bitrate");
    setlocale(LC_NUMERIC, before.constData());
    qunsetenv("LOCPATH");
    QCOMPARE(comma, 1.5); // the locale is in force
    QCOMPARE(point, 1.5);
    QCOMPARE(time, 12.75);
}

void TestSettingsFiles::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::addColumn<int>("callerRounding");
    QTest::newRow("0.5") << 0.5 << 0.0 << FE_TONEAREST;
    QTest::newRow("1.5") << 1.5 << 2.0 << FE_TONEAREST;
    QTest::newRow("2.5") << 2.5 << 2.0 << FE_TONEAREST;
    QTest::newRow("-2.5") << -2.5 << -2.0 << FE_TONEAREST;
    QTest::newRow("2.51") << 2.51 << 3.0 << FE_TONEAREST;
    QTest::newRow("204.5") << 204.5 << 204.0 << FE_TONEAREST;
    QTest::newRow("-0.7") << -0.7 << -1.0 << FE_TONEAREST;
    QTest::newRow("huge") << 1e300 << 1e300 << FE_TONEAREST;
    QTest::newRow("largest odd whole double")
        << 9007199254740991.0 << 9007199254740991.0 << FE_TONEAREST;
    // Found by fuzz_numbertext: built with clang -O2, the caller's rounding mode decided.
    QTest::newRow("0.2, caller rounds upward") << 0.2 << 0.0 << FE_UPWARD;
    QTest::newRow("1e-32, caller rounds upward") << 1e-32 << 0.0 << FE_UPWARD;
    QTest::newRow("3.5, caller rounds downward") << 3.5 << 4.0 << FE_DOWNWARD;
    QTest::newRow("-0.7, caller rounds toward zero") << -0.7 << -1.0 << FE_TOWARDZERO;
}

void TestSettingsFiles::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(double, rounded);
    QFETCH(int, callerRounding);
    std::fesetround(callerRounding);
    const double result = NumberText::roundHalfEven(value);
    const int modeAfter = std::fegetround();
    std::fesetround(FE_TONEAREST);
    QCOMPARE(result, rounded);
    QCOMPARE(modeAfter, callerRounding);
}

void TestSettingsFiles::writeFileCreatesFolderAndReplacesWhole()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/vidmorph/options.ini"));
    QVERIFY(writeFile(path, "a much longer first content\r\n"));
    QVERIFY(writeFile(path, "1\r\n"));
    QCOMPARE(readFile(path).value_or(QByteArray("missing")), QByteArray("1\r\n"));
    QVERIFY(!readFile(dir.filePath(QStringLiteral("absent.ini"))).has_value());
    QVERIFY(!readFile(dir.path()).has_value()); // a folder is not a settings file
}

void TestSettingsFiles::failedWriteKeepsOldContent()
{
    if (geteuid() == 0)
        QSKIP("root writes into read-only folders");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setup.ini"));
    QVERIFY(writeFile(path, "old\r\n"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    QVERIFY(!writeFile(path, "new\r\n"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(readFile(path).value_or(QByteArray()), QByteArray("old\r\n"));
}

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "test_settingsfiles.moc"
