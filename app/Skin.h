#pragma once

#include <QPalette>
#include <QString>

// The program's look: the style sheet shipped in the application folder's skin/, and the light
// palette it is drawn over, so that text keeps its contrast on the skin's light backgrounds
// whatever the desktop's theme (a dark theme's near-white text would vanish on them). A missing
// or broken skin file leaves the desktop's own look, palette included.
namespace Skin {

// Applies both to the whole program; false when the skin file cannot be read.
bool apply(const QString &appFolder);

QPalette palette();

} // namespace Skin
