#!/usr/bin/env bash
# Checks every #include of the sources against the allow-list of its folder below: a folder may include
# itself, its own subfolders, and what its list names; anything else of this tree, of Qt, Qt Widgets or
# Qt D-Bus fails. System and other libraries' headers are not checked here (the build's link lines are).
# The layers: drivers <- Direduva <- vornal core (util <- decimal <- prefs <- config <- worker) <- gui
# and cli; the platform backends sit behind their interfaces (the top files of platform/keys, sound,
# hotkey), which only the core and the window use. Run by CTest as "layers_includes".
#   scripts/check-layers.sh [SRC_DIR]
set -euo pipefail
src=$(cd "${1:-"$(dirname "$0")/../src"}" && pwd)

# What each folder may include besides itself and its subfolders. "Qt" is any Qt module but Widgets and
# D-Bus; "QtWidgets", "QtDBus" those two. "platform/keys" is the interface files of that folder, not
# its backends (platform/keys/x11 ...).
declare -A allow=(
  [drivers/include]=""
  [drivers/common]="drivers/include drivers/net"
  [drivers/net]="drivers/include drivers/common"
  [drivers/posix]="drivers/include drivers/common"
  [drivers/sim]="drivers/include drivers/common"
  [drivers/win32]="drivers/include drivers/common"
  [Direduva]="drivers/include drivers/net"
  [platform/keys]=""
  [platform/keys/fake]="platform/keys"
  [platform/keys/portal]="platform/keys Qt QtDBus"
  [platform/keys/wayland]="platform/keys"
  [platform/keys/windows]="platform/keys"
  [platform/keys/x11]="platform/keys"
  [platform/sound]=""
  [platform/sound/fake]="platform/sound"
  [platform/sound/fluidsynth]="platform/sound"
  [platform/sound/windows]="platform/sound"
  [platform/hotkey]=""
  [platform/hotkey/fake]="platform/hotkey"
  [platform/hotkey/windows]="platform/hotkey"
  [platform/hotkey/x11]="platform/hotkey"
  [vornal/util]="Qt Direduva"
  [vornal/decimal]="Qt vornal/util"
  [vornal/prefs]="Qt vornal/util"
  [vornal/config]="Qt vornal/util vornal/decimal vornal/prefs Direduva platform/keys"
  [vornal/worker]="Qt vornal/util vornal/decimal vornal/prefs vornal/config Direduva platform/keys
                   platform/sound platform/hotkey"
  [vornal/publish]="Qt vornal/util vornal/decimal vornal/prefs vornal/config vornal/worker"
  [vornal/gui]="Qt QtWidgets vornal/util vornal/decimal vornal/prefs vornal/config vornal/worker vornal/publish vornal/Version
                Direduva platform/keys platform/hotkey"
  [cli]="Qt vornal/util vornal/decimal vornal/prefs vornal/config vornal/worker vornal/publish vornal/Version Direduva"
)

# Single files allowed one more include, each with the reason.
declare -A exception=(
  # The key factory is Qt-free and gets the desktop-portal opener (QtDBus) handed in; the typist is the
  # one Qt-side place that builds the factory's request.
  [vornal/worker/Keybot.cpp]="platform/keys/portal"
  # vornal-cli checks a --simulate script with the simulator's own parser (SimScript.h, linked in as
  # vazsim_script) before the driver reads it, so that a wrong script is named with file and line.
  [cli/main.cpp]="drivers/sim"
)

# The folder of a file or include target, relative to src/: the unit the lists above speak of.
folder_of() {
  local rel=$1
  case "$rel" in
    Direduva/*) echo Direduva ;;
    drivers/*) rel=${rel#drivers/}; echo "drivers/${rel%%/*}" ;;
    platform/*/*/*) local p=${rel#platform/}; echo "platform/${p%%/*}/$(cut -d/ -f2 <<<"$p")" ;;
    platform/*/*) local p=${rel#platform/}; echo "platform/${p%%/*}" ;;
    vornal/gui/*) echo vornal/gui ;;
    vornal/*/*) rel=${rel#vornal/}; echo "vornal/${rel%%/*}" ;;
    vornal/*) echo "vornal/${rel#vornal/}" | sed 's/\.[^.]*$//' ;;
    cli/*) echo cli ;;
    *) echo "${rel%%/*}" ;;
  esac
}

# Where an include resolves in this tree (relative to src/), or empty for headers from elsewhere.
search=("" Direduva/include drivers/include drivers/common drivers/net drivers/sim drivers/posix)
resolve() {
  local from_dir=$1 name=$2 quoted=$3 cand
  if [[ $quoted == 1 && -f "$from_dir/$name" ]]; then
    cand=$(realpath -m --relative-to="$src" "$from_dir/$name")
    echo "$cand"; return
  fi
  for base in "${search[@]}"; do
    cand=${base:+$base/}$name
    if [[ -f "$src/$cand" ]]; then
      realpath -m --relative-to="$src" "$src/$cand"; return
    fi
  done
  [[ $name == vornal/Version.h ]] && echo "vornal/Version.h"
  return 0
}

qt_widgets='^(QtWidgets/.*|Q(Widget|Dialog|MainWindow|Application|Label|PushButton|ToolButton|RadioButton|CheckBox|ComboBox|LineEdit|TextEdit|PlainTextEdit|TextBrowser|SpinBox|DoubleSpinBox|AbstractButton|ButtonGroup|GroupBox|TabWidget|TabBar|StackedWidget|ScrollArea|Splitter|Frame|Layout|BoxLayout|HBoxLayout|VBoxLayout|GridLayout|FormLayout|MessageBox|FileDialog|InputDialog|DialogButtonBox|SystemTrayIcon|Menu|MenuBar|StatusBar|ToolBar|ListView|ListWidget|TreeView|TreeWidget|TableView|TableWidget|HeaderView|AbstractItemView|StyledItemDelegate|ItemDelegate|ProgressBar|Slider|Style|StyleOption|Completer|SizePolicy|SpacerItem|ToolTip|WhatsThis|KeySequenceEdit|Shortcut))$'
qt_dbus='^(QtDBus/.*|QDBus[A-Za-z]*)$'
qt_any='^(Qt[A-Za-z]*/.*|Q[A-Z][A-Za-z]*|qglobal\.h|qnamespace\.h)$'

category_of() { # the unit an include names, or empty when it is not checked
  local file=$1 name=$2 quoted=$3 target
  target=$(resolve "$(dirname "$file")" "$name" "$quoted")
  if [[ -n $target ]]; then folder_of "$target"; return; fi
  if [[ $name =~ $qt_widgets ]]; then echo QtWidgets
  elif [[ $name =~ $qt_dbus ]]; then echo QtDBus
  elif [[ $name =~ $qt_any ]]; then echo Qt
  fi
}

allowed() { # folder unit file
  local folder=$1 unit=$2 file=$3
  [[ $unit == "$folder" || $unit == "$folder"/* ]] && return 0
  # A backend includes the interface of the folder above it through ../ as well.
  local a
  for a in ${allow[$folder]-}; do [[ $unit == "$a" ]] && return 0; done
  for a in ${exception[$file]-}; do [[ $unit == "$a" ]] && return 0; done
  return 1
}

status=0
checked=0
while IFS= read -r -d '' file; do
  rel=${file#"$src"/}
  folder=$(folder_of "$rel")
  if [[ -z ${allow[$folder]+set} ]]; then
    echo "$rel: its folder $folder has no list in scripts/check-layers.sh; add one"
    status=1
    continue
  fi
  while IFS= read -r line; do
    [[ $line =~ ^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*([\"\<])([^\"\>]+)[\"\>] ]] || continue
    lineno=${BASH_REMATCH[1]} name=${BASH_REMATCH[3]}
    quoted=0; [[ ${BASH_REMATCH[2]} == '"' ]] && quoted=1
    unit=$(category_of "$file" "$name" "$quoted")
    [[ -z $unit ]] && continue
    checked=$((checked + 1))
    if ! allowed "$folder" "$unit" "$rel"; then
      # shellcheck disable=SC2086 # the list on one line
      echo "$rel:$lineno: includes $name ($unit); $folder may include only itself and:" ${allow[$folder]:-nothing else}
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 | sort -z)

[[ $status -eq 0 ]] && echo "Every folder includes only what its list in scripts/check-layers.sh allows ($checked includes checked)."
exit $status
