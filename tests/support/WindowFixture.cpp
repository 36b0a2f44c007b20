#include "WindowFixture.h"

#include "TestLocations.h"

#include <QDir>
#include <QLineEdit>

void WindowFixture::reset(AppFolder app)
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QString appFolder =
        app == AppFolder::Built ? QStringLiteral(VIDMORPH_APP_DIR) : path(QStringLiteral("app"));
    QDir().mkpath(appFolder);
    places = testLocations(path(), appFolder);
    messages.messages.clear();
    desktop = RecordingDesktopServices();
}

std::unique_ptr<frmMain> WindowFixture::load()
{
    auto window = std::make_unique<frmMain>(places, &messages, &desktop);
    window->Form_Load();
    return window;
}

std::unique_ptr<frmMain> WindowFixture::loadForBatch(const QString &outputFolder)
{
    auto window = load();
    window->setStartGuardMs(0);
    window->txtPath->setText(path(outputFolder));
    return window;
}
