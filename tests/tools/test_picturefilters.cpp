// The shape the tools give a picture where the format cannot store a pixel shape, over many
// sizes and pixel shapes: read from the filters' sizes, without running ffmpeg.
#include "common/PictureFilters.h"

#include <QRegularExpression>
#include <QSize>
#include <QTest>
#include <cmath>

class TestPictureFilters : public QObject
{
    Q_OBJECT

private slots:
    void realMediaFrames_data();
    void realMediaFrames();
    void mpegAspects_data();
    void mpegAspects();
};

namespace {

SourceInfo::Picture picture(QSize size, int sarNum, int sarDen, int rotation = 0)
{
    SourceInfo::Picture picture;
    picture.width = size.width();
    picture.height = size.height();
    picture.sarNum = sarNum;
    picture.sarDen = sarDen;
    picture.rotation = rotation;
    picture.fields = SourceInfo::Fields::Progressive;
    picture.pixelFormat = "yuv420p";
    return picture;
}

// The last size the filters give of this kind ("scale" or "pad"), else the empty size.
QSize lastSize(const QString &chain, const QString &kind)
{
    QSize size;
    const QRegularExpression pattern(QStringLiteral("(?:^|,)%1=([0-9]+):([0-9]+)").arg(kind));
    for (auto match = pattern.globalMatch(chain); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        size = QSize(found.captured(1).toInt(), found.captured(2).toInt());
    }
    return size;
}

double aspect(QSize size)
{
    return double(size.width()) / size.height();
}

} // namespace

void TestPictureFilters::realMediaFrames_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("sarNum");
    QTest::addColumn<int>("sarDen");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QSize>("asked"); // -s, empty for the source's size
    const QList<QSize> sizes = {{320, 180}, {640, 360}, {333, 187}, {1280, 720}, {1920, 1080},
                                {176, 144}, {360, 640}, {400, 300}, {854, 480},  {1024, 436}};
    for (const QSize &size : sizes)
        QTest::addRow("%dx%d", size.width(), size.height()) << size << 1 << 1 << 0 << QSize();
    QTest::newRow("PAL 16:9") << QSize(720, 576) << 64 << 45 << 0 << QSize();
    QTest::newRow("PAL 4:3") << QSize(720, 576) << 16 << 15 << 0 << QSize();
    QTest::newRow("NTSC 16:9") << QSize(720, 480) << 32 << 27 << 0 << QSize();
    QTest::newRow("HDV") << QSize(1440, 1080) << 4 << 3 << 0 << QSize();
    QTest::newRow("phone clip turned a quarter") << QSize(640, 360) << 1 << 1 << 90 << QSize();
    QTest::newRow("4:3 at 640x360") << QSize(640, 480) << 1 << 1 << 0 << QSize(640, 360);
    QTest::newRow("portrait at 640x360") << QSize(360, 640) << 1 << 1 << 0 << QSize(640, 360);
    QTest::newRow("PAL 16:9 at 320x240") << QSize(720, 576) << 64 << 45 << 0 << QSize(320, 240);
    QTest::newRow("scope at 640x480") << QSize(1920, 800) << 1 << 1 << 0 << QSize(640, 480);
}

// RealMedia stores no pixel shape: the frame, whole macroblocks, is what a player shows, within
// 2 % of the picture's shape; the picture inside keeps its own shape exactly, with black bars
// where the frame is larger. A size asked for is the frame, the picture fitted inside it.
void TestPictureFilters::realMediaFrames()
{
    QFETCH(QSize, size);
    QFETCH(int, sarNum);
    QFETCH(int, sarDen);
    QFETCH(int, rotation);
    QFETCH(QSize, asked);
    const SourceInfo::Picture source = picture(size, sarNum, sarDen, rotation);
    PictureFilters::Target target;
    target.shape = PictureFilters::Shape::SquarePixels;
    target.width = asked.width();
    target.height = asked.height();
    const QString chain = QString::fromStdString(PictureFilters::chain(source, target));

    const QSize upright(source.uprightWidth(), source.uprightHeight());
    const QSize scaled = lastSize(chain, "scale");
    const QSize content = scaled.isEmpty() ? upright : scaled;
    const QSize padded = lastSize(chain, "pad");
    const QSize frame = padded.isEmpty() ? content : padded;
    QVERIFY2(chain.contains("setsar=1") || (content == upright && sarNum == sarDen),
             qPrintable(chain));
    // Whole pixels of an even picture: within two pixels of the shape.
    const double shape = source.displayAspect();
    QVERIFY2(std::fabs(aspect(content) - shape) <=
                 2.0 / content.height() + 2.0 * shape / content.width(),
             qPrintable(chain));
    QVERIFY(content.width() <= frame.width() && content.height() <= frame.height());
    if (!asked.isEmpty()) {
        QCOMPARE(frame, asked);
        QVERIFY2(content.width() == asked.width() || content.height() == asked.height(),
                 qPrintable(chain));
        return;
    }
    QCOMPARE(frame.width() % 16, 0);
    QCOMPARE(frame.height() % 16, 0);
    QVERIFY2(std::fabs(aspect(frame) / shape - 1) < 0.02, qPrintable(chain));
    // A few rows and columns of bars at most.
    QVERIFY2(frame.width() - content.width() <= 64 && frame.height() - content.height() <= 64,
             qPrintable(chain));
}

void TestPictureFilters::mpegAspects_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("sarNum");
    QTest::addColumn<int>("sarDen");
    QTest::addColumn<bool>("squared");
    QTest::newRow("square pixels") << QSize(640, 360) << 1 << 1 << false;
    QTest::newRow("PAL 16:9") << QSize(720, 576) << 64 << 45 << false;
    QTest::newRow("NTSC 4:3") << QSize(720, 480) << 8 << 9 << false;
    QTest::newRow("HDV") << QSize(1440, 1080) << 4 << 3 << false;
    // 1.36, which MPEG-2 would show as 4:3.
    QTest::newRow("PAL 4:3 by the book") << QSize(720, 576) << 12 << 11 << true;
    QTest::newRow("anamorphic scope") << QSize(720, 576) << 1136 << 475 << true;
}

// MPEG-2 in a program stream shows 4:3, 16:9 and 2.21:1, or square pixels; any other shape is
// made of square pixels.
void TestPictureFilters::mpegAspects()
{
    QFETCH(QSize, size);
    QFETCH(int, sarNum);
    QFETCH(int, sarDen);
    QFETCH(bool, squared);
    const SourceInfo::Picture source = picture(size, sarNum, sarDen);
    PictureFilters::Target target;
    target.shape = PictureFilters::Shape::StandardAspects;
    const QString chain = QString::fromStdString(PictureFilters::chain(source, target));
    const QSize scaled = lastSize(chain, "scale");
    QCOMPARE(!scaled.isEmpty(), squared);
    if (squared) {
        QVERIFY(chain.contains("setsar=1"));
        QVERIFY2(std::fabs(aspect(scaled) / source.displayAspect() - 1) < 0.01, qPrintable(chain));
    }
}

QTEST_GUILESS_MAIN(TestPictureFilters)
#include "test_picturefilters.moc"
