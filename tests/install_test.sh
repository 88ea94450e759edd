#!/usr/bin/env bash
# Installation test: `cmake --install` into a staging folder (DESTDIR) with a
# prefix given at install time puts every file under the staging folder,
# writes the program's path under that prefix into "SettingsModFilename" of
# the system store, and installs programs that find their library; a
# system-wide prefix writes the store into /etc/xdg (staged); a relative
# prefix is taken from the current folder. Every install here is staged.
#   install_test.sh <build folder> <1 when the desktop program is built>
set -euo pipefail
build=$1
has_app=$2
cmake=${CMAKE:-cmake}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
expect_file() { [[ -f $1 ]] || fail "missing $1"; }
# The stored value: the bare path, no line end.
expect_value() {
    local file=$1 want=$2
    if [[ ! -f $file ]]; then
        fail "missing $file"
    elif [[ $(od -An -c "$file" | tr -d ' \n') != $(printf '%s' "$want" | od -An -c | tr -d ' \n') ]]; then
        fail "$file holds '$(cat "$file")', not '$want'"
    fi
}
store=Tarvelin/Mirelkanzoar/2.7/SettingsModFilename
live_store=/etc/xdg/$store
live_before=$(stat -c '%Y %s' "$live_store" 2>/dev/null || echo none)

# 1. Staged, to a prefix that exists only at install time.
prefix=$tmp/p
stage=$tmp/stage
DESTDIR=$stage "$cmake" --install "$build" --prefix "$prefix" >"$tmp/log1" 2>&1 ||
    { cat "$tmp/log1" >&2; fail "staged install failed"; }
[[ ! -e $prefix ]] || fail "the staged install wrote into the prefix itself"
# Every file the install recorded went into the staging folder.
while IFS= read -r file; do
    [[ -f $stage$file ]] || fail "not in the staging folder: $file"
done <"$build/install_manifest.txt"
root=$stage$prefix
expect_file "$root/bin/mkquill"
if [[ $has_app == 1 ]]; then
    expect_file "$root/bin/Mirelkanzoar"
    [[ -x $root/bin/Mirelkanzoar ]] || fail "the program is not executable"
    expect_file "$root/share/applications/Mirelkanzoar.desktop"
    expect_file "$root/share/mime/packages/mirelkanzoar.xml"
    expect_file "$root/share/icons/hicolor/scalable/apps/mirelkanzoar.svg"
    expect_file "$root/share/doc/mirelkanzoar/manual/index.html"
    # A private prefix keeps its store under itself.
    expect_value "$root/etc/xdg/$store" "$prefix/bin/Mirelkanzoar"
    grep -q "XDG_CONFIG_DIRS" "$tmp/log1" || fail "no word that XDG_CONFIG_DIRS must hold $prefix/etc/xdg"
    grep -qx "$prefix/etc/xdg/$store" "$build/install_manifest.txt" ||
        fail "the stored value is not in the install manifest"

    entry=$root/share/applications/Mirelkanzoar.desktop
    for line in "[Desktop Entry]" "Type=Application" "Name=Mirelkanzoar" "Exec=Mirelkanzoar %f" \
        "Icon=mirelkanzoar" "Categories=Graphics;Photography;" \
        "MimeType=application/x-mirelkanzoar-settings;"; do
        grep -qxF "$line" "$entry" || fail "desktop entry lacks '$line'"
    done
    grep -q '^Comment=.' "$entry" || fail "desktop entry has no comment"
    # The icon is read by an SVG renderer of its own.
    if command -v rsvg-convert >/dev/null; then
        rsvg-convert -w 48 -h 48 "$root/share/icons/hicolor/scalable/apps/mirelkanzoar.svg" \
            -o "$tmp/icon.png" || fail "the icon does not render"
        [[ -s $tmp/icon.png ]] || fail "the icon renders to nothing"
    else
        fail "rsvg-convert is missing (librsvg2-bin)"
    fi
    # Every page of the manual refers only to files that are installed with it.
    manual=$root/share/doc/mirelkanzoar/manual
    while IFS= read -r ref; do
        [[ -e $manual/$ref ]] || fail "the manual refers to $ref, which is not installed"
    done < <(grep -ohE '(src|href)="[^"#:]+"' "$manual"/*.html | sed -E 's/^(src|href)="//; s/"$//' | sort -u)
fi
# The installed tool finds its library in the installed tree (status 255:
# no file found, after the library was loaded).
status=0
env -u LD_LIBRARY_PATH "$root/bin/mkquill" -V0 "$tmp/none.jpg" >/dev/null 2>&1 || status=$?
[[ $status == 255 ]] || fail "installed mkquill ended with $status, not 255"
if [[ $has_app == 1 ]]; then
    found=$(ldd "$root/bin/Mirelkanzoar" | sed -n 's/^[[:space:]]*libMK_Core[^ ]* => \([^ ]*\) .*/\1/p')
    [[ -n $found && $(realpath "$found") == "$root"/lib/* ]] ||
        fail "the installed program does not find libMK_Core in $root/lib (found '$found')"
fi

# 2. Staged system-wide install: the store goes to /etc/xdg inside the stage.
if [[ $has_app == 1 ]]; then
    for system in /usr /usr/local; do
        stage2=$tmp/stage2$(basename "$system")
        DESTDIR=$stage2 "$cmake" --install "$build" --prefix "$system" >"$tmp/log2" 2>&1 ||
            { cat "$tmp/log2" >&2; fail "staged install to $system failed"; }
        expect_value "$stage2/etc/xdg/$store" "$system/bin/Mirelkanzoar"
        [[ ! -e $stage2$system/etc ]] || fail "a $system install put its store under the prefix"
        grep -q "XDG_CONFIG_DIRS" "$tmp/log2" && fail "a $system install asks for XDG_CONFIG_DIRS"
    done
fi

# 3. A relative prefix, taken from the folder cmake --install runs in (staged
# too, so that no install of this test can reach the live system).
if [[ $has_app == 1 ]]; then
    mkdir "$tmp/here"
    stage3=$tmp/stage3
    (cd "$tmp/here" && DESTDIR=$stage3 "$cmake" --install "$build" --prefix q >"$tmp/log3" 2>&1) ||
        { cat "$tmp/log3" >&2; fail "install to a relative prefix failed"; }
    expect_file "$stage3$tmp/here/q/bin/Mirelkanzoar"
    expect_value "$stage3$tmp/here/q/etc/xdg/$store" "$tmp/here/q/bin/Mirelkanzoar"
    # The settings-file type as the desktop's MIME database takes it up.
    if command -v update-mime-database >/dev/null; then
        mkdir -p "$tmp/mime/packages"
        cp "$stage3$tmp/here/q/share/mime/packages/mirelkanzoar.xml" "$tmp/mime/packages/"
        update-mime-database "$tmp/mime" >/dev/null 2>&1 || fail "update-mime-database refused the type"
        grep -qx 'application/x-mirelkanzoar-settings:\*\.mks' "$tmp/mime/globs" ||
            fail "the .mks type is not in the MIME database"
        grep -qx 'application/x-mirelkanzoar-settings:mirelkanzoar' "$tmp/mime/icons" ||
            fail "the .mks type has not the program's icon"
    fi
fi

# Nothing was written into the live system store.
live_after=$(stat -c '%Y %s' "$live_store" 2>/dev/null || echo none)
[[ $live_before == "$live_after" ]] || fail "the live $live_store was changed"

if ((failures > 0)); then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "install test passed"
