// Saves a rectangle of the X screen as a PNG: screengrab OUT.png [X Y W H].
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2 && args.size() != 6)
        return 2;
    QScreen *screen = QGuiApplication::primaryScreen();
    const QPixmap shot = args.size() == 6 ? screen->grabWindow(0, args[2].toInt(), args[3].toInt(),
                                                               args[4].toInt(), args[5].toInt())
                                          : screen->grabWindow(0);
    return shot.save(args[1], "PNG") ? 0 : 1;
}
