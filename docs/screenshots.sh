#!/bin/sh
# The README's pictures of the editor, made under Xvfb from a build (default: build/default):
#   docs/editor.png         the editor (the LV2 UI; the VST 3 view draws the same window)
#   docs/desktop-edit.png   `vurnel desktop edit` on a PipeWire daemon of its own
# Needs xvfb-run, pipewire, and the build's editor_probe and vurnel.
set -e
cd "$(dirname "$0")/.."
build=${1:-build/default}
screen="-screen 0 1920x1200x24"
xvfb-run -a -s "$screen" "$build/tests/editor_probe" shot docs/editor.png 1
xvfb-run -a -s "$screen" python3 docs/desktop_screenshot.py "$build/tools/vurnel" \
    "$build/lv2-bundles/vurnel.lv2" docs/desktop-edit.png
