#include "convert/FailureReason.h"
#include "tools/ToolContract.h"

#include <QTest>

// The plain-Chinese reason a user sees for each way the tools fail.
class TestFailureReason : public QObject
{
    Q_OBJECT
private slots:
    void describe_data();
    void describe();
    void notStarted_data();
    void notStarted();
    void everyToolErrorHasItsOwnReason();
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
    // Short of memory, processes or files: never a damaged input or a missing ffmpeg.
    QTest::newRow("no memory to load ffmpeg")
        << "\nError: out of memory: ffmpeg: error while loading shared libraries: libaom.so.3: "
           "failed to map segment from shared object\n"
        << 1 << false << "内存不足"
        << "out-of-memory";
    QTest::newRow("no memory for the tool") << "\nError: out of memory\n"
                                            << 1 << false << "内存不足"
                                            << "out-of-memory";
    QTest::newRow("no memory, in the system's words")
        << "time=1.20 \rError: encoding failed: Cannot allocate memory\n"
        << 1 << false << "内存不足"
        << "out-of-memory";
    QTest::newRow("no process for ffmpeg")
        << "\nError: too many processes: cannot start ffmpeg: Resource temporarily unavailable\n"
        << 1 << false << "系统的进程数已达上限"
        << "out-of-processes";
    QTest::newRow("no descriptor for a pipe")
        << "\nError: too many open files: cannot create a pipe: Too many open files\n"
        << 1 << false << "打开的文件数已达上限"
        << "out-of-files";
    QTest::newRow("an output ffprobe cannot open")
        << "time=2.04 \r\nError: the output cannot be played: Invalid argument\n"
        << 1 << false << "编码程序写出的文件无法播放"
        << "output-unplayable";
    QTest::newRow("an output without streams")
        << "\nError: the output has no audio or video stream\n"
        << 1 << false << "编码程序写出的文件既没有图像也没有声音"
        << "output-no-stream";
    QTest::newRow("an output without its picture") << "\nError: the output has no video stream\n"
                                                   << 1 << false << "编码程序写出的文件没有图像"
                                                   << "output-no-video";
    QTest::newRow("an output of no length") << "\nError: the output holds nothing to play\n"
                                            << 1 << false << "编码程序写出的文件没有可播放的内容"
                                            << "output-empty";
    QTest::newRow("a timestamp that jumps by hours")
        << "time=1.00 \r\nError: the output runs far past the input's length: 2.5 s of 0.5 s\n"
        << 1 << false << "输入文件的时间戳有误：输出会比输入长得多，已停止转换"
        << "output-too-long";
    QTest::newRow("a playlist as the output")
        << "\nError: cannot write this format: hls\n"
        << 1 << false << "不支持的输出格式（会写出多个文件，或写到设备、网络）"
        << "output-format-refused";
    QTest::newRow("a device as the output")
        << "\nError: output is not a file: /dev/null\n"
        << 1 << false << "输出路径不是普通文件（例如设备或管道）"
        << "output-not-file";
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

void TestFailureReason::notStarted_data()
{
    QTest::addColumn<QString>("systemText"); // QProcess's words, or a pipe's error
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("code");
    QTest::newRow("not there") << "execve: No such file or directory"
                               << "无法启动转换工具 conv"
                               << "tool-missing";
    QTest::newRow("no process to be had")
        << "Resource error (fork failure): Resource temporarily unavailable"
        << "无法启动转换工具 conv：系统的进程数已达上限"
        << "out-of-processes";
    QTest::newRow("no memory for a process")
        << "Resource error (fork failure): Cannot allocate memory"
        << "无法启动转换工具 conv：内存不足"
        << "out-of-memory";
    QTest::newRow("no pipe") << "Too many open files"
                             << "无法启动转换工具 conv：打开的文件数已达上限"
                             << "out-of-files";
}

void TestFailureReason::notStarted()
{
    QFETCH(QString, systemText);
    QFETCH(QString, reason);
    QFETCH(QString, code);
    const QString described = FailureReason::notStarted(QStringLiteral("conv"), systemText);
    QCOMPARE(described, reason);
    QCOMPARE(FailureReason::code(described), code);
}

// Whatever error line a tool ends with, the user is told its own reason, never the one for an
// unknown failure, and scripts get a code of its kind.
void TestFailureReason::everyToolErrorHasItsOwnReason()
{
    const QString unknown = FailureReason::describe(QStringLiteral("odd\n"), 1, false, true);
    for (const char *text : ToolContract::Error::All) {
        // What follows a text (a path, a number, a reason) is never empty in a tool's line.
        QString line = QLatin1String(ToolContract::ErrorPrefix) + QLatin1String(text) + "1";
        if (QLatin1String(text) == QLatin1String(ToolContract::Error::OptionNeedsValue))
            line += QStringLiteral("-x") + QLatin1String(ToolContract::Error::OptionNeedsValueEnd);
        const QString reason = FailureReason::describe(line + QLatin1Char('\n'), 1, false, true);
        QVERIFY2(reason != unknown, text);
        const QString code = FailureReason::code(reason);
        QVERIFY2(code != QLatin1String("tool-error") && code != QLatin1String("failed"), text);
        QVERIFY2(FailureReason::codes().contains(code), text);
    }
}

void TestFailureReason::lastLines()
{
    QCOMPARE(FailureReason::lastLines(QStringLiteral("a\r\nb\rc\n\n d \n"), 2),
             QStringLiteral("c\nd"));
}

QTEST_GUILESS_MAIN(TestFailureReason)
#include "test_failurereason.moc"
