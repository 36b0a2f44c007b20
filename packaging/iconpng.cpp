// Renders the scalable icon into the PNG sizes of the hicolor theme at build time, through Qt's
// own SVG image plugin, so no other converter is needed.
//   iconpng ICON.svg OUTFOLDER SIZE...   writes OUTFOLDER/SIZExSIZE/apps/vidmorph.png
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() < 4) {
        std::fputs("usage: iconpng ICON.svg OUTFOLDER SIZE...\n", stderr);
        return 2;
    }
    for (const QString &sizeText : arguments.mid(3)) {
        const int size = sizeText.toInt();
        QImageReader reader(arguments.at(1));
        reader.setScaledSize(QSize(size, size));
        const QImage image = reader.read();
        const QString folder = arguments.at(2) + QStringLiteral("/%1x%1/apps").arg(size);
        if (image.isNull() || !QDir().mkpath(folder) ||
            !image.save(folder + QStringLiteral("/vidmorph.png"))) {
            std::fprintf(stderr, "iconpng: %s at %d: %s\n", qPrintable(arguments.at(1)), size,
                         qPrintable(reader.errorString()));
            return 1;
        }
    }
    return 0;
}
