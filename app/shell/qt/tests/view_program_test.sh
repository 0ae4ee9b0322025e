#!/usr/bin/env bash
# Drives a document view of the real program under Xvfb: a NIfTI checkerboard (0 and 1000, so that
# its percentile window is level 500, width 1000) is opened; the window/level button and a 3-pixel
# drag widen the window to 1015; a Ctrl-drag paints a "draw ROI" that the Layers panel lists and
# that three Ctrl+Z (one per brush step) empty again; a click shows the voxel in the status bar;
# F9 shows the projection dialog; the document is saved and closed, the frame's File menu shows the
# options dialog and the program quits.
#   view_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/program_kit.sh"
program_setup "$1" "$2" "$3" view_program_test

volume="$folder/checker.nii"
/usr/bin/python3 - "$volume" <<'PY' || { echo "nibabel cannot write the volume"; exit 1; }
import sys
import numpy as np
import nibabel as nib
i, j, k = np.meshgrid(np.arange(64), np.arange(64), np.arange(8), indexing='ij')
data = (((i // 4 + j // 4) % 2) * 1000).astype(np.int16)
nib.save(nib.Nifti1Image(data, np.diag([1.0, 1.0, 2.0, 1.0])), sys.argv[1])
PY

printf '[Settings]\nWindowPos=0:1:-1:-1:-1:-1:0:0:900:800\n' > "$folder/Tarnwick.ini"  # a larger frame
# One slice in the volume's own plane, without orientation letters.
printf 'ImageOpenLayout:=1\nProjViewConvention:=0\nDisplayOrient:=0\n' > "$folder/TarnwickConfig.txt"
shot="$folder/tarnwick_view_screenshot.png"
wl="horizontal drag to the right >> increase W; drag down >> increase L, ESC>> exit"
cat > "$folder/script.txt" <<SCRIPT
files $volume
menu File/Open Image
expect-documents 1
expect-window 500 1000
toolbar $wl
drag left 300,300 303,300 3
expect-window 500 1015
toolbar $wl
drag left ctrl 250,250 330,290 2
menu Edit/Edit drawing object properties
expect-layers 2
expect-layer 1 draw ROI
expect-roi-voxels >20
expect-status xyz=(
screenshot $shot
key Z ctrl
key Z ctrl
key Z ctrl
expect-roi-voxels 0
click 300,300
expect-status SI=
cancel-dialog Specify Volume Projection
key F9
files $folder/saved.twk
menu File/Save As Tarnwick Document
menu View/Close Document
cancel-dialog User Interface Options
menu File/User Interface Options
menu File/Exit
SCRIPT

program_run "$folder/script.txt"
[ -s "$shot" ] || { echo "no screenshot"; exit 1; }
[ -s "$folder/saved.twk" ] || { echo "the document was not saved"; exit 1; }
echo "the view was driven by mouse, keys and toolbar"
