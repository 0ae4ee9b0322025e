#!/usr/bin/env bash
# Vector ROIs and polylines in the real program under Xvfb, in two runs:
# 1. a NIfTI is opened, a box is drawn with "Construct Vector ROI" and saved with "Save Vector ROIs";
# 2. a second NIfTI of the same grid is opened, the saved box is loaded over it and "Rasterize All
#    VROIs" fills exactly the voxels the box covers (counted here from the saved file); a closed
#    polyline drawn beside it and "Rasterize All Polylines" add its voxels; the document is saved
#    and the saved file holds the same objects as the open document.
#   vroi_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/program_kit.sh"
program_setup "$1" "$2" "$3" vroi_program_test

/usr/bin/python3 - "$folder/first.nii" "$folder/second.nii" <<'PY' || { echo "nibabel cannot write the volumes"; exit 1; }
import sys
import numpy as np
import nibabel as nib
i, j, k = np.meshgrid(np.arange(64), np.arange(64), np.arange(8), indexing='ij')
nib.save(nib.Nifti1Image(((i + j) % 50 * 20).astype(np.int16), np.diag([1.0, 1.0, 2.0, 1.0])), sys.argv[1])
nib.save(nib.Nifti1Image((k * 100 + i).astype(np.int16), np.diag([1.0, 1.0, 2.0, 1.0])), sys.argv[2])
PY

printf '[Settings]\nWindowPos=0:1:-1:-1:-1:-1:0:0:900:800\n' > "$folder/Tarnwick.ini"
printf 'ImageOpenLayout:=1\nProjViewConvention:=0\nDisplayOrient:=0\n' > "$folder/TarnwickConfig.txt"
vroi="$folder/boxes.vroi"

cat > "$folder/draw.txt" <<SCRIPT
files $folder/first.nii
menu File/Open Image
expect-documents 1
toolbar Construct Vector ROI
drag left 250,250 330,290 4
click 330,290
files $vroi
menu Vector/Save Vector ROIs
expect-answers-used
set-modified
answer No
menu View/Close Document
expect-documents 0
menu File/Exit
SCRIPT
program_run "$folder/draw.txt"
[ -s "$vroi" ] || { echo "Save Vector ROIs wrote no file"; exit 1; }

# The voxels the saved box covers: voxel i lies in [x0, x1) when floor(x0) <= i <= the voxel
# before x1 (an upper bound on a voxel edge ends the box on the voxel before it).
voxels="$(/usr/bin/python3 - "$vroi" <<'PY'
import math, sys
text = open(sys.argv[1], 'rb').read().decode('utf-16-le')
values = dict(line.split('=', 1) for line in text.split('\n') if '=' in line)
assert int(values['Number of ROIs']) == 1, values
count = 1
for axis, size in (('x', 64), ('y', 64), ('z', 8)):
    lo, hi = float(values[axis + '0']), float(values[axis + '1'])
    first, last = math.floor(lo), math.floor(hi)
    if hi - last < 1e-5:
        last = max(first, last - 1)
    first, last = max(first, 0), min(last, size - 1)
    count *= last - first + 1
print(count)
PY
)"
[ "$voxels" -gt 10 ] || { echo "the drawn box covers only $voxels voxels"; exit 1; }

cat > "$folder/raster.txt" <<SCRIPT
files $folder/second.nii
menu File/Open Image
expect-documents 1
files $vroi
menu Vector/Load Vector ROIs
menu Vector/Rasterize All VROIs
expect-roi-voxels $voxels
toolbar Insert Polyline
click 150,150
click 210,150
click 210,200
click 150,200
menu Vector/Close Polyline
key Escape
menu Vector/Rasterize All Polylines
expect-roi-voxels >$((voxels + 20))
files $folder/saved.twk
menu File/Save As Tarnwick Document
expect-identical $folder/saved.twk
menu File/Exit
SCRIPT
program_run "$folder/raster.txt"
[ -s "$folder/saved.twk" ] || { echo "the document was not saved"; exit 1; }
echo "a drawn box saved, loaded over a second volume and rasterised to its $voxels voxels; a closed polyline rasterised; the saved document holds the same objects"
