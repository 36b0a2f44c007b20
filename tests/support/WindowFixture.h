#pragma once

#include "RecordingDesktopServices.h"
#include "RecordingMessageSink.h"
#include "app/frmMain.h"
#include "convert/Locations.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// The real main window over folders of a test's own, with its message boxes and desktop
// requests recorded instead of shown. Window tests keep one and reset it before each case.
class WindowFixture
{
public:
    enum class AppFolder {
        Built, // the built application folder, with the tools, skin and help
        Empty, // an empty folder of the test's own
    };

    // A fresh folder, places inside it and empty recordings.
    void reset(AppFolder app = AppFolder::Built);
    // The window after its start-up. Adjust `places` first to start it elsewhere.
    std::unique_ptr<frmMain> load();
    // Loaded for a batch that writes into `outputFolder` inside the test's folder; a click on
    // Start right after it started a batch stops it, as tests ask.
    std::unique_ptr<frmMain> loadForBatch(const QString &outputFolder);

    QString path() const { return m_dir->path(); }
    QString path(const QString &name) const { return m_dir->filePath(name); }

    Locations places;
    RecordingMessageSink messages;
    RecordingDesktopServices desktop;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
