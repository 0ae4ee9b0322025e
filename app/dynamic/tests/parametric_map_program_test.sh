#!/usr/bin/env bash
# A parametric map in the real program: a 64 x 64 x 8 x 60 Tofts phantom (three regions of known
# Ktrans and ve, 2 % noise, concentrations) is opened, an ROI is drawn with the brush, "Calculate
# Parametric Map" fits model 8 inside it with the input function loaded from a curve file, the map
# layers appear under their output names, and the document saved under a new name reads back equal
# to the one in memory (maps included), also after it is closed and opened again.
#   parametric_map_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../shell/qt/tests/program_kit.sh"
program_setup "$1" "$2" "$3" parametric_map_program_test

image="$folder/phantom.nii"
/usr/bin/python3 - "$image" "$folder/aif.txt" <<'PY'
import sys
import numpy as np
import nibabel as nib
times = np.arange(60) * 5.0
x = (times - 10) / 15
plasma = np.where(x <= 0, 0.0, 6 * x * np.exp(1 - x) + 0.8 * (1 - np.exp(-np.maximum(x, 0))))
def tofts(ktrans_per_min, ve):
    kt = ktrans_per_min / 60
    kep = kt / ve
    c = np.zeros_like(times)
    for i in range(1, len(times)):
        h = times[i] - times[i - 1]
        e = np.exp(-kep * h)
        a, slope = plasma[i - 1], (plasma[i] - plasma[i - 1]) / h
        c[i] = c[i - 1] * e + kt * (a * (1 - e) / kep + slope * (h / kep - (1 - e) / kep ** 2))
    return c
curves = [tofts(0.25, 0.30), tofts(0.10, 0.20), tofts(0.05, 0.45)]
rng = np.random.default_rng(20261211)
data = np.zeros((64, 64, 8, 60), dtype=np.float32)
for i in range(64):
    data[i] = curves[i * 3 // 64]
data += rng.normal(0, 0.02 * max(c.max() for c in curves), data.shape).astype(np.float32)
img = nib.Nifti1Image(data, np.diag([1.0, 1.0, 2.0, 1.0]))
img.header.set_xyzt_units('mm', 'sec')
img.header['pixdim'][4] = 5.0
nib.save(img, sys.argv[1])
with open(sys.argv[2], 'w') as f:
    f.write('# name: plasma\n')
    for t, v in zip(times, plasma):
        f.write('%.17g\t%.17g\n' % (t, v))
PY

printf '[Settings]\nWindowPos=0:1:-1:-1:-1:-1:0:0:900:800\n' > "$folder/Tarnwick.ini"
printf 'ImageOpenLayout:=1\nProjViewConvention:=0\nDisplayOrient:=0\n' > "$folder/TarnwickConfig.txt"
cat > "$folder/script.txt" <<SCRIPT
files $image
menu-start File/Open Image
wait-dialog Specify Modality
choose MR
press OK
wait-idle
expect-documents 1
drag left ctrl 250,250 330,290 2
menu Edit/Edit drawing object properties
expect-layers 2
expect-roi-voxels >20
menu-start Dynamic Analysis/Calculate Parametric Map
wait-dialog CDlgPpmCalc
choose 8.
files $folder/aif.txt
press Load from file
press Unselect all
press Select all
press Process ROI only voxelwise
wait-idle
expect-layers 6
expect-layer 2 K-trans
expect-layer 3 Ve
files $folder/maps.twk
menu File/Save As Tarnwick Document
expect-answers-used
expect-identical $folder/maps.twk
menu View/Close Document
expect-documents 0
files $folder/maps.twk
menu File/Open Tarnwick document
expect-documents 1
expect-identical $folder/maps.twk
menu Edit/Edit drawing object properties
expect-layers 6
expect-layer 2 K-trans
menu File/Exit
SCRIPT
program_run "$folder/script.txt"
[ -s "$folder/maps.twk" ] || { echo "no document was saved"; exit 1; }
echo "the parametric maps were made in the program, saved and read back equal"
