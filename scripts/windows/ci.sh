#!/usr/bin/env bash
# The Windows stage of CI: cross-build, the test suite under Wine, the installer and its test
# under Wine. The Qt and libraries for Windows come from ../shared/windows beside the
# repository when it is there, else they are built (scripts/windows/build-toolchain.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
t0=$SECONDS
bash scripts/windows/test.sh
t1=$SECONDS
bash scripts/windows/installer.sh
xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/windows/installer-test.sh
echo "windows: build and Wine suite $((t1 - t0)) s, installer and its test $((SECONDS - t1)) s"
