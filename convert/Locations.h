#pragma once

#include <QString>

// Every place the program reads or writes, gathered so that tests can point each one at a
// folder of their own and never touch a user's real folders.
struct Locations
{
    QString appFolder;      // the executable's folder, no trailing separator
    QString settingsFolder; // setup.ini and options.ini
    QString scratchFolder;  // tmp.mp4 and the exit-time scratch files (private, mode 0700)
    QString logFolder;      // one log file per batch

    // The standard places for an application folder: settings beside the executable when
    // that folder is writable and not installed (a portable copy), else $XDG_CONFIG_HOME/
    // vidmorph; the scratch folder under $XDG_CACHE_HOME/vidmorph/tmp; logs under
    // $XDG_DATA_HOME/vidmorph. VIDMORPH_SETTINGS_DIR overrides the settings folder.
    static Locations standard(const QString &appFolder);
    // An installed copy carries the marker file `installed` in its application folder; its
    // settings belong to each user even when the folder is writable (root runs it too).
    static bool isInstalled(const QString &appFolder);

    QString intermediateFile() const; // scratchFolder/tmp.mp4
    QString setupIni() const;
    QString optionsIni() const;
    // appFolder/output for a copy run from its folder; the user's videos folder's Vidmorph
    // folder for an installed copy (or one whose folder cannot be written).
    QString defaultOutputFolder() const;

    // Creates the scratch folder with all its parents, readable by its owner only.
    bool makeScratchFolder() const;

    // Where the home folder cannot take the scratch folder or the logs (HOME is not set, is
    // not a folder, or cannot be written, and no XDG folder says otherwise), both move to a
    // private folder under the system's temporary folder ($TMPDIR, else /tmp):
    // "vidmorph-<uid>", or where that name is not a folder of this user's that nobody else can
    // enter, a "vidmorph-<uid>-XXXXXX" of this user's that nobody else can enter (an earlier
    // run's, else a new one). `movedTo` is that folder, empty when nothing
    // moved. False when the places cannot be used and no private folder can be made either.
    bool leaveUnusableHome(QString *movedTo);
};
