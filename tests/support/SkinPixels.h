#pragma once

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QRect>
#include <QString>

// Looking at what the shipped skin paints, for tests that check a look rather than a state:
// apply the skin as start-up does, render a widget, and count the pixels of a colour.
namespace SkinPixels {

// The skin of the built application folder, applied to the whole test application.
inline bool applyShippedSkin()
{
    QFile skin(QStringLiteral(VIDMORPH_APP_DIR "/skin/vidmorph.qss"));
    if (!skin.open(QIODevice::ReadOnly))
        return false;
    qApp->setStyleSheet(QString::fromUtf8(skin.readAll()));
    return true;
}

inline bool near(QColor a, QColor b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// The share (0 to 1) of the area's pixels within `tolerance` of the colour in every channel.
inline double shareOf(const QImage &image, const QRect &area, QColor colour, int tolerance = 24)
{
    const QRect inside = area.intersected(image.rect());
    if (inside.isEmpty())
        return 0;
    int matching = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            matching += near(image.pixelColor(x, y), colour, tolerance);
    return double(matching) / (inside.width() * inside.height());
}

// The pixels of the area that are far from the colour: text or lines drawn on a background.
inline int countUnlike(const QImage &image, const QRect &area, QColor colour, int tolerance = 80)
{
    const QRect inside = area.intersected(image.rect());
    int unlike = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            unlike += !near(image.pixelColor(x, y), colour, tolerance);
    return unlike;
}

} // namespace SkinPixels
