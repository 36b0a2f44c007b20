// The threads each encoder may use: the user's VIDMORPH_ENCODER_THREADS for every encoder, and
// without it a share of the cores only for SVT-AV1 when several files convert at once.
#include "ToolContract.h"
#include "coder/Encoders.h"

#include <QTest>
#include <QThread>

class TestEncoderThreads : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void threadLimit_data();
    void threadLimit();
};

void TestEncoderThreads::cleanup()
{
    qunsetenv("VIDMORPH_ENCODER_THREADS");
    qunsetenv(ToolContract::FilesAtOnceVariable);
}

void TestEncoderThreads::threadLimit_data()
{
    const int cores = QThread::idealThreadCount();
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QByteArray>("user");  // VIDMORPH_ENCODER_THREADS; "-": not set
    QTest::addColumn<QByteArray>("files"); // files at once; "-": not set
    QTest::addColumn<int>("threads");
    QTest::newRow("one file: the encoder's own")
        << "libsvtav1" << QByteArray("-") << QByteArray("-") << 0;
    QTest::newRow("x264 beside another: its own")
        << "libx264" << QByteArray("-") << QByteArray("2") << 0;
    QTest::newRow("x265 beside another: its own")
        << "libx265" << QByteArray("-") << QByteArray("2") << 0;
    QTest::newRow("SVT-AV1 beside another: half the cores")
        << "libsvtav1" << QByteArray("-") << QByteArray("2") << qMax(1, cores / 2);
    QTest::newRow("SVT-AV1 among many: at least one")
        << "libsvtav1" << QByteArray("-") << QByteArray("64") << qMax(1, cores / 64);
    QTest::newRow("files at once not a number")
        << "libsvtav1" << QByteArray("-") << QByteArray("2x") << 0;
    QTest::newRow("the user's number for x264")
        << "libx264" << QByteArray("3") << QByteArray("2") << 3;
    QTest::newRow("the user's number for SVT-AV1")
        << "libsvtav1" << QByteArray("5") << QByteArray("2") << 5;
    QTest::newRow("the user's 0: the encoders' own")
        << "libsvtav1" << QByteArray("0") << QByteArray("2") << 0;
    QTest::newRow("the user's word that is no number: the encoders' own")
        << "libsvtav1" << QByteArray("many") << QByteArray("2") << 0;
    QTest::newRow("a huge number is bounded")
        << "libx264" << QByteArray("99999") << QByteArray("-") << 1024;
}

void TestEncoderThreads::threadLimit()
{
    QFETCH(QString, encoder);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, files);
    QFETCH(int, threads);
    if (user != "-")
        qputenv("VIDMORPH_ENCODER_THREADS", user);
    if (files != "-")
        qputenv(ToolContract::FilesAtOnceVariable, files);
    QCOMPARE(Encoders::threadLimit(encoder.toStdString()), threads);
}

QTEST_GUILESS_MAIN(TestEncoderThreads)
#include "test_encoderthreads.moc"
