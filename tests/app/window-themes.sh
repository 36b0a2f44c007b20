#!/usr/bin/env bash
# The real window under Xvfb as a desktop with a dark theme, and one with an 11 pt font, would
# show it: Qt reads the desktop's colours and font from kdeglobals when the session says it is
# KDE's. Saves main-dark.png and main-11pt.png; look at them beside main.png (the plain theme).
#   window-themes.sh SCREENGRAB VIDMORPH SCREENSHOT_DIR
set -euo pipefail
grab=$1 app=$2 shots=$3
here=$(dirname "$0")
config=${XDG_CONFIG_HOME:-$HOME/.config}
mkdir -p "$config"
export XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5

# Breeze Dark's colours with the desktop's default font.
cat >"$config/kdeglobals" <<'COLOURS'
[Colors:Window]
BackgroundNormal=35,38,41
ForegroundNormal=239,240,241
[Colors:View]
BackgroundNormal=27,30,32
ForegroundNormal=239,240,241
[Colors:Button]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=255,255,255
[Colors:Tooltip]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
COLOURS
"$here/../support/xvfb-screenshot.sh" "$grab" "$shots/main-dark.png" Vidmorph "$app"

# The light colours with an 11 pt font.
printf '[General]\nfont=Noto Sans,11,-1,5,50,0,0,0,0,0\n' >"$config/kdeglobals"
"$here/../support/xvfb-screenshot.sh" "$grab" "$shots/main-11pt.png" Vidmorph "$app"
rm -f "$config/kdeglobals"
