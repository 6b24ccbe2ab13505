#!/usr/bin/env bash
# Installs the build to a fresh prefix and starts the program from there: the program, its resources, the
# desktop entry and its icon land where a Linux desktop finds them, and the installed program starts on a
# display and ends on SIGTERM. Needs a display (run it under scripts/with-display.sh).
#
#   installed_program.sh BUILD-DIR
set -uo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
fail() {
  echo "FAIL: $*"
  [ -f "$scratch/log" ] && cat "$scratch/log"
  exit 1
}

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 || { cat "$scratch/install.log"; fail "cmake --install"; }
for file in bin/pexo-rigmora share/pexo-rigmora/Configuration.strings share/pexo-rigmora/en.lproj/Localizable.strings \
            share/pexo-rigmora/pexo-rigmora.png share/applications/pexo-rigmora.desktop \
            share/icons/hicolor/scalable/apps/pexo-rigmora.svg share/icons/hicolor/256x256/apps/pexo-rigmora.png; do
  [ -s "$prefix/$file" ] || fail "$file was not installed"
done
desktop=$prefix/share/applications/pexo-rigmora.desktop
grep -qx "Exec=pexo-rigmora" "$desktop" || fail "the desktop entry does not start pexo-rigmora"
grep -qx "Icon=pexo-rigmora" "$desktop" || fail "the desktop entry does not name the icon"
grep -qx "Type=Application" "$desktop" || fail "the desktop entry is no application"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop" || fail "desktop-file-validate"; fi

# Started from its installed place, with a home of its own and resources only from the prefix.
mkdir -p "$scratch/home"
(cd "$scratch" && exec env -u RIG_RESOURCES HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/data" \
   XDG_CONFIG_HOME="$scratch/home/config" RIG_LOG=1 "$prefix/bin/pexo-rigmora") >"$scratch/log" 2>&1 &
pid=$!
# Up once it has made its data folder and the splash has had its time.
for _ in $(seq 200); do
  [ -d "$scratch/home/data/PEXO Rigmora" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the installed program ended by itself"
  sleep 0.1
done
[ -d "$scratch/home/data/PEXO Rigmora" ] || fail "the installed program never made its data folder"
sleep 3
kill -0 "$pid" 2>/dev/null || fail "the installed program ended by itself"
kill -TERM "$pid"
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "still running 10 s after SIGTERM"; }
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "ended with status $status"
grep -q "no resources folder found" "$scratch/log" && fail "the installed program found no resources"
echo "installed to $prefix, started and ended on SIGTERM"
