#include "convert/FailureReason.h"

#include <QTest>

// The plain-Chinese reason a user sees for each way the tools fail.
class TestFailureReason : public QObject
{
    Q_OBJECT
private slots:
    void describe_data();
    void describe();
    void lastLines();
};

void TestFailureReason::describe_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crashed");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("code");
    QTest::newRow("text file") << "\nError: cannot read input file /in/notes.avi: Invalid data "
                                  "found when processing input\n"
                               << 1 << false << "无法读取输入文件（文件已损坏或不是视频、音频文件）"
                               << "unreadable";
    QTest::newRow("empty file") << "\nError: input file is empty: /in/zero.avi\n"
                                << 1 << false << "输入文件是空的（0 字节）"
                                << "input-empty";
    QTest::newRow("no audio for MP3") << "\nError: the input has no audio stream\n"
                                      << 1 << false << "输入文件没有声音，无法转换为纯音频格式"
                                      << "no-audio";
    QTest::newRow("no video") << "\nError: the input has no video stream\n"
                              << 1 << false << "输入文件没有图像，无法转换为视频格式"
                              << "no-video";
    QTest::newRow("a playlist posing as a video")
        << "\nError: not a media file: /in/holiday.mp4\n"
        << 1 << false << "不是可转换的媒体文件（例如播放列表或文件清单）"
        << "not-media";
    QTest::newRow("no pipe for ffmpeg") << "\nError: cannot create a pipe: Too many open files\n"
                                        << 1 << false << "打开的文件数已达上限"
                                        << "out-of-files";
    QTest::newRow("no pipe, cause unknown") << "\nError: cannot create a pipe: unknown error 512\n"
                                            << 1 << false << "无法启动编码程序（系统资源不足）"
                                            << "no-resources";
    QTest::newRow("out of memory") << "\nError: encoding failed: Cannot allocate memory\n"
                                   << 1 << false << "内存不足"
                                   << "out-of-memory";
    QTest::newRow("no more processes")
        << "\nError: cannot start ffmpeg: Resource temporarily unavailable\n"
        << 1 << false << "系统进程数已达上限"
        << "out-of-processes";
    QTest::newRow("a name that reads like a cause")
        << "\nError: input file not found: /in/No space left.avi\n"
        << 1 << false << "找不到输入文件"
        << "input-missing";
    QTest::newRow("full disk while encoding")
        << "time=1.20 \r\nError: encoding failed: av_interleaved_write_frame(): No space left on "
           "device\n"
        << 1 << false << "磁盘空间不足"
        << "disk-full";
    QTest::newRow("full disk when the file is closed")
        << "(99%)\rError: encoding failed: Error closing file No space left on device\n"
        << 1 << false << "磁盘空间不足"
        << "disk-full";
    QTest::newRow("full disk, no error line")
        << "time=1.20 \rError writing trailer: No space left on device\n"
        << 0 << false << "磁盘空间不足"
        << "disk-full";
    QTest::newRow("folder not writable")
        << "\nError: cannot write to the output folder /out: Permission denied\n"
        << 1 << false << "没有读取或写入的权限"
        << "permission-denied";
    QTest::newRow("read-only folder")
        << "\nError: cannot write to the output folder /media/cd: Read-only file system\n"
        << 1 << false << "输出位置是只读的"
        << "read-only";
    QTest::newRow("channels 0") << "\nError: bad parameter -ac 0\n"
                                << 1 << false << "参数无效（请检查声道、采样率、码率或尺寸）"
                                << "bad-parameter";
    QTest::newRow("AMR encoder missing")
        << "\nError: cannot start the AMR-NB encoder\n"
        << 1 << false << "无法启动 AMR 声音编码器（请确认已安装 opencore-amr）"
        << "no-amr-encoder";
    QTest::newRow("ffmpeg missing") << "\nError: cannot start ffmpeg: No such file or directory\n"
                                    << 1 << false << "无法启动编码程序（请确认已安装 ffmpeg）"
                                    << "no-ffmpeg";
    QTest::newRow("killed from outside") << "\nError: stopped by signal 15\n"
                                         << 143 << false << "转换被中止"
                                         << "stopped";
    QTest::newRow("crash") << "Pos: 0.4s ( 3%)\r" << 0 << true << "转换程序意外终止"
                           << "crashed";
    QTest::newRow("exit code only") << "something odd\n"
                                    << 3 << false << "转换程序报告错误（代码 3）"
                                    << "tool-error";
    QTest::newRow("clean exit, nothing written") << "done\n"
                                                 << 0 << false << "没有生成输出文件"
                                                 << "no-output";
}

void TestFailureReason::describe()
{
    QFETCH(QString, output);
    QFETCH(int, exitCode);
    QFETCH(bool, crashed);
    QFETCH(QString, reason);
    QFETCH(QString, code);
    const QString described = FailureReason::describe(output, exitCode, crashed, true);
    QCOMPARE(described, reason);
    QCOMPARE(FailureReason::code(described), code);
}

void TestFailureReason::lastLines()
{
    QCOMPARE(FailureReason::lastLines(QStringLiteral("a\r\nb\rc\n\n d \n"), 2),
             QStringLiteral("c\nd"));
}

QTEST_GUILESS_MAIN(TestFailureReason)
#include "test_failurereason.moc"
