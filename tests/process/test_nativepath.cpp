#include "process/NativePath.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// File names kept byte for byte, whether or not they are UTF-8.
class TestNativePath : public QObject
{
    Q_OBJECT
private slots:
    void everyByteStringComesBack();
    void validUtf8IsPlainText_data();
    void validUtf8IsPlainText();
    void readableNames_data();
    void readableNames();
    void theSystemFindsTheExactName();
    void dialogAnswersAreRecovered();
    void argumentsKeepTheirBytes();
};

void TestNativePath::everyByteStringComesBack()
{
    // Every byte alone, then random strings heavy in bytes of 0x80 and above.
    for (int b = 1; b < 256; ++b) {
        const QByteArray one(1, char(b));
        QCOMPARE(NativePath::encode(NativePath::decode(one)), one);
    }
    QRandomGenerator random(7);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes;
        const int length = int(random.bounded(1, 24));
        for (int i = 0; i < length; ++i)
            bytes +=
                char(random.bounded(2) ? random.bounded(0x80, 0x100) : random.bounded(1, 0x80));
        QCOMPARE(NativePath::encode(NativePath::decode(bytes)), bytes);
    }
}

void TestNativePath::validUtf8IsPlainText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QStringLiteral("/home/li/clip.avi");
    QTest::newRow("chinese") << QStringLiteral("/home/李/假期 录像.mp4");
    QTest::newRow("beyond the basic plane") << QStringLiteral("/tmp/😀 emoji.mkv");
}

void TestNativePath::validUtf8IsPlainText()
{
    QFETCH(QString, text);
    QCOMPARE(NativePath::decode(text.toUtf8()), text);
    QCOMPARE(NativePath::encode(text), text.toUtf8());
    QVERIFY(!NativePath::hasRawBytes(text));
    QCOMPARE(NativePath::readable(text), text);
}

void TestNativePath::readableNames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("GBK file name")
        << QByteArray("/tmp/\xca\xd3\xc6\xb5.mp4") << QStringLiteral("/tmp/视频.mp4");
    QTest::newRow("GBK folder, UTF-8 folder above")
        << QByteArray("/home/\xe6\x9d\x8e/\xbc\xd9\xc6\xda/clip.avi")
        << QStringLiteral("/home/李/假期/clip.avi");
    QTest::newRow("neither UTF-8 nor GB18030")
        << QByteArray("/tmp/bad\xff.mp4") << QStringLiteral("/tmp/bad\ufffd.mp4");
    // An overlong "/" is no separator: its two bytes read as one character of GB18030.
    QTest::newRow("overlong slash") << QByteArray("/tmp/a\xc0\xaf"
                                                  "b")
                                    << QStringLiteral("/tmp/a\u8721b");
}

void TestNativePath::readableNames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString path = NativePath::decode(bytes);
    QVERIFY(NativePath::hasRawBytes(path));
    QCOMPARE(NativePath::readable(path), shown);
    QVERIFY(!NativePath::hasRawBytes(NativePath::readable(path)));
}

void TestNativePath::theSystemFindsTheExactName()
{
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + "/\xca\xd3\xc6\xb5.mp4";
    const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "abc", 3), ssize_t(3));
    ::close(fd);
    const QString path = NativePath::decode(name);
    QVERIFY(NativePath::exists(path));
    QVERIFY(NativePath::isFile(path));
    QCOMPARE(NativePath::size(path), 3);
    QVERIFY(!NativePath::isFolder(path));
    // Qt's own decoding loses the name.
    QVERIFY(!QFile::exists(QFile::decodeName(name)));
    ::unlink(name.constData());
}

void TestNativePath::dialogAnswersAreRecovered()
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + "/\xbc\xd9\xc6\xda";
    QCOMPARE(::mkdir(folder.constData(), 0755), 0);
    const QByteArray file = folder + "/\xca\xd3\xc6\xb5.mp4";
    ::close(::open(file.constData(), O_CREAT | O_WRONLY, 0644));
    // What Qt's file dialog answers for that file: its own lossy reading of the names.
    const QString listed = QString::fromUtf8(file);
    QVERIFY(listed.contains(QChar::ReplacementCharacter));
    QCOMPARE(NativePath::encode(NativePath::recover(listed)), file);
    // A name that no file of the folder reads as stays as it is.
    const QString unknown = dir.path() + QStringLiteral("/\ufffd.mp4");
    QCOMPARE(NativePath::recover(unknown), unknown);
    ::unlink(file.constData());
    ::rmdir(folder.constData());
}

void TestNativePath::argumentsKeepTheirBytes()
{
    QVERIFY(
        !NativePath::Arguments(QStringLiteral("/bin/true"), {QStringLiteral("假期.mp4")}).needed());
    QVERIFY(NativePath::Arguments(QStringLiteral("/bin/true"),
                                  {NativePath::decode("\xca\xd3\xc6\xb5.mp4")})
                .needed());
}

QTEST_GUILESS_MAIN(TestNativePath)
#include "test_nativepath.moc"
