#include "ProcessTable.h"
#include "TestMedia.h"
#include "convert/DurationProbe.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// Lengths of media files through the system's ffprobe, in the background.
class TestDurationProbe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void lengthsOfGoodAndBadFiles();
    void listsPosingAsVideosAreNotFollowed();
    void answersComeLaterAndOncePerFile();
    void cancelStopsTheProbing();
    void withoutFfprobeEveryLengthIsUnknown();
    void onlyTheLengthFfprobeGivesCounts_data();
    void onlyTheLengthFfprobeGivesCounts();

private:
    // Probes the files and waits for every answer.
    void collect(DurationProbe &probe, const QStringList &paths, QHash<QString, double> &lengths);

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_text;
    QString m_empty;
};

void TestDurationProbe::initTestCase()
{
    // A leading dash and a colon: a name ffprobe must not read as an option or a protocol.
    m_clip = m_dir.filePath(QStringLiteral("-clip: 一.mkv"));
    QCOMPARE(TestMedia::make(m_clip, QSize(64, 48), 1.5, 1), QString());
    m_text = m_dir.filePath(QStringLiteral("notes.avi"));
    QFile text(m_text);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a video\n");
    text.close();
    m_empty = m_dir.filePath(QStringLiteral("zero.avi"));
    QFile empty(m_empty);
    QVERIFY(empty.open(QIODevice::WriteOnly));
}

void TestDurationProbe::collect(DurationProbe &probe, const QStringList &paths,
                                QHash<QString, double> &lengths)
{
    connect(&probe, &DurationProbe::probed, this,
            [&lengths](const QString &path, double seconds) { lengths.insert(path, seconds); });
    // A busy machine may take its time over a file that does not hang at all.
    probe.setTimeout(120000);
    probe.probe(paths);
    QTRY_VERIFY_WITH_TIMEOUT(probe.isIdle() && lengths.size() == paths.size(), 600000);
    probe.disconnect(this);
}

void TestDurationProbe::lengthsOfGoodAndBadFiles()
{
    DurationProbe probe;
    const QString missing = m_dir.filePath(QStringLiteral("gone.avi"));
    QHash<QString, double> lengths;
    collect(probe, {m_clip, m_text, m_empty, missing, m_dir.path()}, lengths);
    QVERIFY2(qAbs(lengths.value(m_clip) - 1.5) < 0.1,
             qPrintable(QString::number(lengths.value(m_clip))));
    QCOMPARE(lengths.value(m_text, -1), 0.0);
    QCOMPARE(lengths.value(m_empty, -1), 0.0);
    QCOMPARE(lengths.value(missing, -1), 0.0);
    QCOMPARE(lengths.value(m_dir.path(), -1), 0.0);
}

void TestDurationProbe::listsPosingAsVideosAreNotFollowed()
{
    // Each names a real video, or an address on this machine that would see a connection.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("http://127.0.0.1:%1/clip.ts").arg(server.serverPort());
    const QList<QPair<QString, QString>> lists = {
        {QStringLiteral("hls.mp4"),
         QStringLiteral("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.5,\n%1\n#EXT-X-ENDLIST\n")
             .arg(m_clip)},
        {QStringLiteral("concat.mkv"),
         QStringLiteral("ffconcat version 1.0\nfile '%1'\n").arg(m_clip)},
        {QStringLiteral("remote.mp4"),
         QStringLiteral("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.5,\n%1\n#EXT-X-ENDLIST\n")
             .arg(address)},
    };
    QStringList paths;
    for (const auto &[name, content] : lists) {
        paths.append(m_dir.filePath(name));
        QFile file(paths.last());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content.toUtf8());
    }
    DurationProbe probe;
    QHash<QString, double> lengths;
    collect(probe, paths, lengths);
    for (const QString &path : std::as_const(paths))
        QCOMPARE(lengths.value(path, -1), 0.0);
    QVERIFY(!server.hasPendingConnections());
    QVERIFY(!server.waitForNewConnection(200));
}

void TestDurationProbe::answersComeLaterAndOncePerFile()
{
    DurationProbe probe;
    probe.setTimeout(120000);
    QSignalSpy probed(&probe, &DurationProbe::probed);
    probe.probe({m_empty, m_clip, m_clip});
    QCOMPARE(probed.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(probe.isIdle() && probed.count() == 2, 600000);
    // Asked again, a known file is answered from what was found, still never inside the call.
    probe.probe({m_clip});
    QCOMPARE(probed.count(), 2);
    QTRY_COMPARE(probed.count(), 3);
    QCOMPARE(probed.at(2).at(0).toString(), m_clip);
    QVERIFY(qAbs(probed.at(2).at(1).toDouble() - 1.5) < 0.1);
}

void TestDurationProbe::cancelStopsTheProbing()
{
    QStringList many;
    for (int i = 0; i < 20; ++i) {
        many.append(m_dir.filePath(QStringLiteral("copy-%1.mkv").arg(i)));
        QVERIFY(QFile::exists(many.last()) || QFile::link(m_clip, many.last()));
    }
    DurationProbe probe;
    QSignalSpy probed(&probe, &DurationProbe::probed);
    probe.probe(many);
    QTRY_VERIFY_WITH_TIMEOUT(probed.count() >= 1, 30000);
    QVERIFY(!probe.isIdle());
    probe.cancel();
    QVERIFY(probe.isIdle());
    const int answered = probed.count();
    QVERIFY(answered < many.size());
    QTest::qWait(300);
    QCOMPARE(probed.count(), answered);
    // The probe that was running is gone, not left behind.
    QTRY_VERIFY_WITH_TIMEOUT(processesMentioning({m_dir.path()}).isEmpty(), 1000);
}

void TestDurationProbe::withoutFfprobeEveryLengthIsUnknown()
{
    DurationProbe probe;
    probe.setProgram(m_dir.filePath(QStringLiteral("no-such-ffprobe")));
    QHash<QString, double> lengths;
    collect(probe, {m_clip}, lengths);
    QCOMPARE(lengths.value(m_clip, -1), 0.0);
}

void TestDurationProbe::onlyTheLengthFfprobeGivesCounts_data()
{
    QTest::addColumn<QByteArray>("printed"); // what a stand-in for ffprobe prints
    QTest::addColumn<double>("seconds");
    QTest::newRow("its length") << QByteArray(R"({"format": {"duration": "12.500000"}})") << 12.5;
    QTest::newRow("a length in plain text") << QByteArray("12.500000\n") << 0.0;
    QTest::newRow("a title's words") << QByteArray("  Duration: 99:00:00.00, start: 0\n") << 0.0;
    QTest::newRow("a tag named like the length")
        << QByteArray(R"({"format": {"tags": {"duration": "356400"}}})") << 0.0;
    for (const char *length : {"N/A", "inf", "1e300", "-3", "nan"})
        QTest::addRow("length %s", length)
            << QByteArray(R"({"format": {"duration": ")") + length + R"("}})" << 0.0;
}

// The estimate of time left takes a length only from ffprobe's structured answer, and only a
// length a clock can show.
void TestDurationProbe::onlyTheLengthFfprobeGivesCounts()
{
    QFETCH(QByteArray, printed);
    QFETCH(double, seconds);
    const QString answer = m_dir.filePath(QStringLiteral("answer.json"));
    QFile file(answer);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(printed);
    file.close();
    const QString standIn = m_dir.filePath(QStringLiteral("ffprobe"));
    QFile script(standIn);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ncat '" + QFile::encodeName(answer) + "'\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    DurationProbe probe;
    probe.setProgram(standIn);
    QHash<QString, double> lengths;
    collect(probe, {m_clip}, lengths);
    QCOMPARE(lengths.value(m_clip, -1), seconds);
}

QTEST_GUILESS_MAIN(TestDurationProbe)
#include "test_durationprobe.moc"
