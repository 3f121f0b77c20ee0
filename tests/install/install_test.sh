#!/bin/bash
# What `make install DESTDIR=...` stages (it is `cmake --install` once the build is done)
# holds every file a user expects, the installed programs run on the installed samples,
# and `make uninstall` takes it all away again.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
stage=$(mktemp -d)
root=$stage/root
manifest=$build_dir/install_manifest.txt
# The install writes the build's manifest: keep the one of a real install, if any.
saved=""
if [ -f "$manifest" ]; then saved=$stage/saved-manifest; cp -p "$manifest" "$saved"; fi
finish() {
    if [ -n "$saved" ]; then cp -p "$saved" "$manifest"; else rm -f "$manifest"; fi
    rm -rf "$stage"
}
trap finish EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR=$root cmake --install "$build_dir" --prefix /usr/local >/dev/null
cp "$manifest" "$stage/manifest"

prefix=$root/usr/local
samples=$prefix/share/flowloom/samples
for file in bin/flowloom bin/flowloom-render bin/flowloom-convert share/applications/flowloom.desktop \
            share/icons/hicolor/128x128/apps/flowloom.png share/man/man1/flowloom.1 \
            share/man/man1/flowloom-render.1 share/man/man1/flowloom-convert.1 share/doc/flowloom/README.md \
            share/flowloom/samples/README.md share/flowloom/samples/grace_hopper.jpg \
            share/flowloom/samples/chelsea.png share/flowloom/samples/coffee.png; do
    [ -s "$prefix/$file" ] || fail "$file was not installed"
done
for field in wind_300hpa_january ocean_currents_north jacksboro_dem_gradient; do
    for ending in vec npy; do [ -s "$samples/$field.$ending" ] || fail "$field.$ending was not installed"; done
done
[ -x "$prefix/bin/flowloom" ] && [ -x "$prefix/bin/flowloom-render" ] || fail "the programs are not executable"
[ ! -e "$samples/make_samples.py" ] || fail "the samples' maker was installed"
grep -q '^Exec=flowloom %f$' "$prefix/share/applications/flowloom.desktop" || fail "the desktop entry runs something else"
grep -q '^MimeType=.*application/x-netcdf;' "$prefix/share/applications/flowloom.desktop" || fail "the desktop entry opens no NetCDF"
grep -q 'application/x-npy' "$prefix/share/mime/packages/flowloom.xml" || fail "the NumPy type was not installed"
grep -q '^Icon=flowloom$' "$prefix/share/applications/flowloom.desktop" || fail "the desktop entry names another icon"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$prefix/share/applications/flowloom.desktop"; fi
grep -q -e 'field\\-file' -e 'field-file' "$prefix/share/man/man1/flowloom-render.1" || fail "the renderer's manual lacks its options"
# Every page says what its program reads and shows it at work.
for page in flowloom flowloom-render flowloom-convert; do
    for section in FILES EXAMPLES; do
        grep -q "^\.SH $section" "$prefix/share/man/man1/$page.1" || fail "the manual of $page has no $section"
    done
    grep -q 'NetCDF' "$prefix/share/man/man1/$page.1" || fail "the manual of $page does not name NetCDF"
done
grep -q 'Ctrl+D' "$prefix/share/man/man1/flowloom.1" || fail "the window's manual lacks the Display dialog"
! grep -q -i 'only.*\.vec' "$prefix/share/man/man1/flowloom.1" || fail "the window's manual says it reads only .vec files"

[ "$("$prefix/bin/flowloom-render" --version)" = "flowloom-render 1.0" ] || fail "flowloom-render --version"
[ "$("$prefix/bin/flowloom" --version)" = "flowloom 1.0" ] || fail "flowloom --version"

# The installed renderer renders an installed field and LICs an installed photograph.
# A 24-bit BMP's width and height are the little-endian words at bytes 18 and 22.
size_of_bmp() { od -An -tu4 -j18 -N8 "$1" | tr -s ' ' | sed 's/^ //'; }
"$prefix/bin/flowloom-render" --field-file "$samples/wind_300hpa_january.vec" -o "$stage/wind.bmp" 2>/dev/null
[ "$(size_of_bmp "$stage/wind.bmp")" = "256 128" ] || fail "the wind sample rendered as $(size_of_bmp "$stage/wind.bmp")"
"$prefix/bin/flowloom-render" --method licing --image "$samples/grace_hopper.jpg" -o "$stage/photo.bmp" 2>/dev/null
[ "$(size_of_bmp "$stage/photo.bmp")" = "512 600" ] || fail "the photograph LICed to $(size_of_bmp "$stage/photo.bmp")"

# Every example of the tools' manuals runs as printed from a folder of the samples (the
# pages say to run them there) and writes the file it names: after -o, or the converter's OUT.
mkdir "$stage/examples"
ln -s "$samples"/* "$stage/examples/"
examples=0
while read -r program arguments; do
    read -ra words <<<"$arguments"
    (cd "$stage/examples" && "$prefix/bin/$program" "${words[@]}" >/dev/null 2>&1) ||
        fail "the manual's example does not run: $program $arguments"
    written=${words[1]}
    for ((k = 0; k + 1 < ${#words[@]}; ++k)); do [ "${words[k]}" = "-o" ] && written=${words[k + 1]}; done
    [ -s "$stage/examples/$written" ] || fail "the manual's example wrote no $written: $program $arguments"
    examples=$((examples + 1))
done < <(sed -n '/^flowloom\\-\(render\|convert\) /{s/\\-/-/g;p}' \
             "$prefix/share/man/man1/flowloom-render.1" "$prefix/share/man/man1/flowloom-convert.1")
[ "$examples" -ge 6 ] || fail "the tools' manuals show only $examples examples"

make -s -C "$source_dir" uninstall BUILD="$build_dir" MANIFEST="$stage/manifest" DESTDIR="$root" >/dev/null
left=$(find "$root" -type f)
[ -z "$left" ] || fail "uninstall left: $left"
[ ! -e "$prefix/share/flowloom" ] || fail "uninstall left share/flowloom"
[ -d "$prefix/bin" ] || fail "uninstall removed the shared bin/ folder"
echo "installed, ran and uninstalled"
