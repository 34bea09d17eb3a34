#!/usr/bin/env bash
# scripts/check-layers.sh on a small tree with known includes: what the lists allow passes, each planted
# include that points where its folder may not go is reported with file and line, and the check fails.
# Run by CTest as "layers_includes_planted".
set -euo pipefail
check=${1:-"$(dirname "$0")/../../scripts/check-layers.sh"}
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
put() { mkdir -p "$(dirname "$tree/$1")"; printf '%b' "$2" >"$tree/$1"; }

# Allowed: own folder, interface above a backend, the folders a list names, Qt where allowed.
put platform/keys/KeyInjector.h '#pragma once\n#include <string>\n'
put platform/keys/x11/X11Injector.cpp '#include "../KeyInjector.h"\n#include <X11/Xlib.h>\n'
put platform/keys/portal/Portal.cpp '#include "../KeyInjector.h"\n#include <QDBusConnection>\n#include <QString>\n'
put vornal/util/Text.h '#pragma once\n#include <QString>\n'
put vornal/config/Config.cpp '#include "vornal/util/Text.h"\n#include "platform/keys/KeyInjector.h"\n'
put vornal/worker/Worker.h '#pragma once\n#include "vornal/config/Config.h"\n'
put vornal/config/Config.h '#pragma once\n'
put vornal/gui/Frame.cpp '#include <QWidget>\n#include "vornal/worker/Worker.h"\n'
put drivers/include/vazEdo.h '#pragma once\n'
put drivers/common/DriverCommon.h '#pragma once\n#include <vazEdo.h>\n'
put drivers/posix/Posix.cpp '#include <DriverCommon.h>\n#include <termios.h>\n'
if ! out=$("$check" "$tree" 2>&1); then
  echo "the allowed tree failed the check:"; echo "$out"; exit 1
fi

# Planted: each must be named.
put vornal/config/Bad.cpp '#include "vornal/worker/Worker.h"\n#include <QWidget>\n'
put vornal/worker/Backend.cpp '#include <string>\n#include "platform/keys/x11/X11Injector.cpp"\n'
put platform/keys/Qt.cpp '#include <QString>\n'
put drivers/posix/Up.cpp '\n#include "vornal/util/Text.h"\n'
put vornal/util/Dbus.cpp '#include <QtDBus/QDBusMessage>\n'
put newfolder/X.cpp '#include <string>\n'
rc=0
out=$("$check" "$tree" 2>&1) || rc=$?
status=0
if [[ $rc -eq 0 ]]; then echo "planted includes passed the check"; status=1; fi
for want in 'vornal/config/Bad.cpp:1: includes vornal/worker/Worker.h (vornal/worker)' \
            'vornal/config/Bad.cpp:2: includes QWidget (QtWidgets)' \
            'vornal/worker/Backend.cpp:2: includes platform/keys/x11/X11Injector.cpp (platform/keys/x11)' \
            'platform/keys/Qt.cpp:1: includes QString (Qt)' \
            'drivers/posix/Up.cpp:2: includes vornal/util/Text.h (vornal/util)' \
            'vornal/util/Dbus.cpp:1: includes QtDBus/QDBusMessage (QtDBus)' \
            'newfolder/X.cpp: its folder newfolder has no list'; do
  if ! grep -qF "$want" <<<"$out"; then echo "not reported: $want"; status=1; fi
done
if [[ $(grep -c '' <<<"$out") -ne 7 ]]; then echo "expected exactly 7 reports"; status=1; fi
[[ $status -ne 0 ]] && echo "$out"
exit $status
