#pragma once

class QCoreApplication;

// Qt's own texts (the file dialog's "Look in" and "File name", the message boxes' OK and
// Cancel) in Simplified Chinese, as the rest of the window is, whatever the desktop's language.
// They come from Debian's qt6-translations-l10n.
class QtTranslation
{
public:
    // Loads qtbase_zh_CN.qm from Qt's translations folder into the application, and makes
    // Chinese the default locale; false when the file is not there, and Qt's texts stay
    // English.
    static bool install(QCoreApplication *application);
};
