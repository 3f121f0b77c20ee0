#!/bin/bash
# Regenerates the pictures of docs/guide.md: screenshots of the real window, driven on the
# sample data under a virtual X server (Xvfb) with xdotool and captured with ImageMagick's
# import, and the pictures of the renderer's examples. Run by `make docs`, which installs
# xvfb, xdotool and imagemagick first.
# Usage: docs/make_guide.sh [BUILD_DIR]
set -euo pipefail

docs=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$docs")
build=$(cd "${1:-$source_dir/build}" && pwd)
samples=$source_dir/samples
images=$docs/images
template=$source_dir/resources/main_window.dlg
for program in Xvfb xdotool import convert; do
    command -v $program >/dev/null || { echo "make_guide.sh: $program is missing (apt-get install xvfb xdotool imagemagick)"; exit 1; }
done
[ -x "$build/flowloom" ] && [ -x "$build/flowloom-render" ] || { echo "make_guide.sh: build $build first"; exit 1; }
mkdir -p "$images"
rm -f "$images"/*.png
work=$(mktemp -d)
server=""
window_pid=""
finish() {
    if [ -n "$window_pid" ]; then kill "$window_pid" 2>/dev/null || true; fi
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap finish EXIT

# A virtual screen on a free display; it tells its number once it is ready.
Xvfb -displayfd 3 -screen 0 1100x720x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
server=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

# The window is laid out from its dialog template: a dialog unit is 1.5 pixels across and
# 1.625 down, so a control's centre follows from its template row.
centre_of() {
    awk -v id="$1" '$1 == id { printf "%d %d\n", ($3 + $5 / 2) * 1.5, ($4 + $6 / 2) * 1.625 }' "$template"
}
click() {
    read -r x y < <(centre_of "$1")
    xdotool mousemove --window "$window" "$x" "$y" click 1
    sleep 0.3
}
type_into() {
    click "$1"
    xdotool key ctrl+a
    xdotool type --delay 15 "$2"
}
# The view's client pixel (x, y): the view starts at (15, 15).
view_point() { echo $((15 + $1)) $((15 + $2)); }

# Waits until the program has been about idle (at most a clock tick of CPU time in each
# quarter second; playback costs that much) for a second, or 60 seconds at most.
settle() {
    local before after quiet=0 rounds=0
    before=$(awk '{ print $14 + $15 }' "/proc/$window_pid/stat")
    while [ $quiet -lt 4 ] && [ $rounds -lt 240 ]; do
        sleep 0.25
        after=$(awk '{ print $14 + $15 }' "/proc/$window_pid/stat")
        if [ $((after - before)) -le 1 ]; then quiet=$((quiet + 1)); else quiet=0; fi
        before=$after
        rounds=$((rounds + 1))
    done
}
# The main window alone, or the whole screen trimmed to the windows on it (for dialogs).
shot() {
    settle
    import -window "$window" "$work/shot.png"
    convert "$work/shot.png" +dither -colors 256 "png8:$images/$1.png"
    echo "  $1.png"
}
# Another window of the program, on its own.
shot_of() {
    settle
    import -window "$1" "$work/shot.png"
    convert "$work/shot.png" +dither -colors 256 "png8:$images/$2.png"
    echo "  $2.png"
}
screen_shot() {
    settle
    import -window root "$work/shot.png"
    convert "$work/shot.png" -trim +repage +dither -colors 256 "png8:$images/$1.png"
    echo "  $1.png"
}
# Answers the file dialog titled $1 with the path $2.
answer_dialog() {
    xdotool search --sync --onlyvisible --name "^$1\$" >/dev/null
    settle
    [ -n "${3:-}" ] && screen_shot "$3"
    xdotool key ctrl+a
    xdotool type --delay 10 "$2"
    xdotool key Return
    sleep 0.5
}

echo "Screenshots of the window:"
mkdir -p "$work/run"
cd "$work/run"
"$build/flowloom" 2>"$work/flowloom.log" >&2 &
window_pid=$!
window=$(xdotool search --sync --onlyvisible --name "^Flowloom - Line Integral")
shot start

click 1046                                  # Line Integral Convolution
shot lic_saddle

click 1003                                  # Spiralling
click 1011                                  # Sparse Noise
click 1014                                  # Ramp Kernel
type_into 1016 20
click 1046
shot lic_spiralling_sparse_ramp

read -r x y < <(view_point 150 150)
xdotool mousemove --window "$window" "$x" "$y" click --repeat 2 --delay 80 1   # colour by direction
shot colour_by_direction
xdotool mousemove --window "$window" "$x" "$y" click --repeat 2 --delay 80 1   # and back

click 1012                                  # Color Mapping off: grey at once
shot grey
click 1012

click 1010                                  # White Noise
click 1013                                  # Box Kernel
click 1017                                  # Equalization
click 1018                                  # High Pass Filter
click 1046
shot equalization_high_pass
click 1017
click 1018

type_into 1008 abc                          # a value that is no integer
click 1046
xdotool search --sync --onlyvisible --name "^Flowloom$" >/dev/null
screen_shot validation
xdotool key Return
type_into 1008 300

click 1001                                  # Real Data ...
answer_dialog Open "$samples/wind_300hpa_january.vec" real_data_dialog
type_into 1016 20
click 1046
shot wind

type_into 1026 3                            # ROI Scale
read -r x1 y1 < <(view_point 40 10)        # a right drag marks the region and zooms
read -r x2 y2 < <(view_point 130 110)
xdotool mousemove --window "$window" "$x1" "$y1" mousedown 3 mousemove --window "$window" "$x2" "$y2" mouseup 3
shot wind_zoom

click 1001
answer_dialog Open "$samples/ocean_currents_north.vec"
click 1039                                  # MagLIC
shot ocean_maglic

click 1001                                  # the wind again, from NetCDF: with its units
answer_dialog Open "$samples/wind_300hpa_january.nc"
click 1046
settle
xdotool key F2                              # the viewer
viewer=$(xdotool search --sync --onlyvisible --name "^Flowloom Viewer$")
xdotool windowmove "$viewer" 40 40 windowsize "$viewer" 900 560
settle
xdotool mousemove --window "$viewer" 330 170 # fitted; the status line reads the pointer's sample
xdotool mousemove --window "$viewer" 332 172
shot_of "$viewer" viewer
xdotool windowfocus --sync "$viewer" key Escape
xdotool windowfocus "$window"

xdotool key ctrl+d                          # the Display dialog
dialog=$(xdotool search --sync --onlyvisible --name "^Display$")
xdotool windowfocus --sync "$dialog"
settle
xdotool type --delay 60 viridis             # its first row, the colour map, has the focus
shot_of "$dialog" display_dialog
xdotool key Return
click 1046                                  # the choice applies at the next command
shot wind_viridis
xdotool key ctrl+d                          # and back to the window's own colours
dialog=$(xdotool search --sync --onlyvisible --name "^Display$")
xdotool windowfocus --sync "$dialog"
settle
xdotool type --delay 60 default
xdotool key Return

click 1001
answer_dialog Open "$samples/jacksboro_dem_gradient.vec"
type_into 1021 3                            # Enhance: three passes
click 1040
shot dem_enhance

click 1002                                  # Saddle
type_into 1008 300                          # the file field had set its own size
type_into 1009 300
type_into 1033 4                            # LOD
click 1045                                  # ProLIC
shot prolic

click 1029                                  # Image ...
answer_dialog Open "$samples/grace_hopper.jpg" image_dialog
type_into 1031 2                            # two iterations
click 1035                                  # LICing along the image's own gradient
shot licing_force_extraction
read -r x y < <(view_point 150 150)
xdotool keydown ctrl mousemove --window "$window" "$x" "$y" click 1 keyup ctrl   # mirror top to bottom
shot mirrored
xdotool keydown ctrl mousemove --window "$window" "$x" "$y" click 1 keyup ctrl

click 1029
answer_dialog Open "$samples/chelsea.png"
click 1030                                  # Force Extraction off: along the field
click 1006                                  # Vortex
type_into 1031 1
click 1035
shot licing_vortex
click 1030

click 1002
type_into 1008 300
type_into 1009 300
type_into 1043 8                            # Frames
click 1044                                  # Animation
sleep 1
shot animation
click 1038                                  # Save As ... (AVI)
answer_dialog "Save As" "$work/run/saddle.avi"
xdotool search --sync --onlyvisible --name "^Video Compression$" >/dev/null
screen_shot avi_compression
xdotool key Return
settle
[ -s "$work/run/saddle.avi" ] || echo "make_guide.sh: the AVI file was not written" >&2

click 1046
click 1049                                  # Save LIC Image As ...
answer_dialog "Save As" "$work/run/saddle.png" save_dialog
settle
[ -s "$work/run/saddle.png" ] || echo "make_guide.sh: the PNG picture was not written" >&2

xdotool windowfocus "$window"               # no window manager gives the focus back
xdotool key F1                              # About Flowloom
xdotool search --sync --onlyvisible --name "^About Flowloom$" >/dev/null
screen_shot about
xdotool key Escape

kill "$window_pid"
wait "$window_pid" 2>/dev/null || true
window_pid=""

echo "Pictures of the renderer's examples:"
render() {
    local name=$1
    shift
    "$build/flowloom-render" "$@" -o "$images/$name.png" 2>/dev/null
    echo "  $name.png"
}
render render_vortex --field vortex --color-by-direction --size 240x240
render render_maglic --method maglic --size 300x200
render render_sparse --noise sparse --kernel ramp --length 30 --seed 7 --size 240x240
render render_zoom --roi 100,100,179,179 --roi-scale 3 --size 300x300
render render_wind --field-file "$samples/wind_300hpa_january.vec" --kernel hanning --length 25 --equalize
render render_ocean --field-file "$samples/ocean_currents_north.vec" --length 20 --grey
render render_wind_sphere --field-file "$samples/wind_300hpa_january.nc" --scale 3 --cmap viridis --colorbar
render render_photo --method licing --image "$samples/coffee.png" --image-iterations 2
