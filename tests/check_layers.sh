#!/bin/sh
# Holds the source tree to its layers: an include between folders only points
# down (app -> windows -> run, helper -> sweep -> addresses, logging -> common), and no
# file of the core (every folder below windows) includes a Qt Gui or Widgets
# header, so the core builds and runs with Qt Core alone.
#
#   check_layers.sh <src folder> <QtGui include folder> <QtWidgets include folder>
set -eu

src=$1
gui=$2
widgets=$3
[ -d "$gui" ] && [ -d "$widgets" ] || { echo "FAIL: no Qt include folders at $gui and $widgets" >&2; exit 1; }

rank() {
    case $1 in
        common) echo 0 ;;
        addresses | logging) echo 1 ;;
        sweep) echo 2 ;;
        run | helper) echo 3 ;;
        windows) echo 4 ;;
        app) echo 5 ;;
        *) echo unknown ;;
    esac
}

faults=0
fault() { echo "FAIL: $*" >&2; faults=$((faults + 1)); }

for dir in "$src"/*/; do
    folder=$(basename "$dir")
    own=$(rank "$folder")
    [ "$own" = unknown ] && { fault "src/$folder/ belongs to no layer; give it one in $0"; continue; }
    for file in "$dir"*.h "$dir"*.cpp; do
        [ -f "$file" ] || continue
        name=src/$folder/$(basename "$file")
        # Project includes: "folder/file.h".
        for target in $(sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)/.*|\1|p' "$file"); do
            [ "$target" = "$folder" ] && continue
            theirs=$(rank "$target")
            if [ "$theirs" = unknown ] || [ "$theirs" -ge "$own" ]; then
                fault "$name includes $target/, which is not below $folder/"
            fi
        done
        [ "$own" -ge 4 ] && continue
        # Qt includes of the core: <QName> or <QtModule/...>.
        for header in $(sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*<\(Q[^>]*\)>.*|\1|p' "$file"); do
            case $header in
                QtGui* | QtWidgets*) fault "$name includes <$header>: the core uses Qt Core only" ;;
                */*) ;;
                *) if [ -e "$gui/$header" ] || [ -e "$widgets/$header" ]; then
                       fault "$name includes <$header>, a Qt Gui or Widgets header: the core uses Qt Core only"
                   fi ;;
            esac
        done
    done
done

[ "$faults" -eq 0 ] || exit 1
echo "layers: every include points down, and the core includes no Qt Gui or Widgets header"
