#!/bin/sh
# Runs a window test on a real X server: the one in DISPLAY, else a private
# Xvfb of 1920 x 1080; offscreen when neither is there (CI without X).
if [ -n "$DISPLAY" ]; then
  QT_QPA_PLATFORM=xcb exec "$@"
elif command -v xvfb-run >/dev/null 2>&1; then
  QT_QPA_PLATFORM=xcb exec xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
else
  echo "no X server: running offscreen" >&2
  QT_QPA_PLATFORM=offscreen exec "$@"
fi
