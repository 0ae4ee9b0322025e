#!/usr/bin/env bash
# The filters in the real program: a 128 x 128 x 48 phantom (two tissues times a left-right field,
# noise) is opened and an ROI painted; N4 stopped by Esc adds nothing; N4, non-local means and
# "Radiomics 2D features - Active ROI" (its undefined discretisation defined in the 3D ROI
# statistics) run from the menus; the document is saved and equals the saved file when read back.
#   filters_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder> <program kit>
set -euo pipefail
source "$4"
program_setup "$1" "$2" "$3" filters_program_test

volume="$folder/phantom.nii"
/usr/bin/python3 - "$volume" <<'PY'
import sys
import numpy as np
import nibabel as nib
rng = np.random.default_rng(7)
x, y, z = np.mgrid[:128, :128, :48]
r = np.sqrt((x - 63.5)**2 + (y - 63.5)**2 + ((z - 23.5) * 2.5)**2)
clean = np.where(r < 25, 900.0, np.where(r < 55, 500.0, 0.0))
field = 0.7 + 0.6 * x / 127.0
data = np.where(clean > 0, clean * field + rng.normal(0, 15, clean.shape), 0).clip(0, None)
nib.save(nib.Nifti1Image(data.astype(np.int16), np.diag([1.0, 1.0, 1.0, 1.0])), sys.argv[1])
PY
printf 'ImageOpenLayout:=1\nProjViewConvention:=0\nDisplayOrient:=0\n' > "$folder/TarnwickConfig.txt"

wl="horizontal drag to the right >> increase W; drag down >> increase L, ESC>> exit"
cat > "$folder/script.txt" <<SCRIPT
files $volume
menu File/Open Image
expect-documents 1
toolbar $wl
drag left ctrl 250,250 330,290 2
menu Edit/Edit drawing object properties
expect-layers 2
expect-roi-voxels >20
click 300,300
menu-start Nonuniformity/N4 (UPenn implementation)
wait-dialog N4 nonuniformity correction
press OK
wait-working
esc-after 0
expect-stopped
wait-idle
expect-layers 2
accept-dialog N4 nonuniformity correction
menu Nonuniformity/N4 (UPenn implementation)
wait-idle
expect-layers 3
accept-dialog Non-local Means Denoising = 1 2 15 1
menu Volume/Non-Local Means Denoising (NLM)
wait-idle
expect-layers 4
answer OK
menu-start Measure/Radiomics 2D features - Active ROI
wait-dialog Radiomics Features 2D
press OK
wait-dialog CDlgRoiStat3D
press OK
wait-dialog Radiomics Features 2D
press OK
wait-idle
expect-message Histogram-based discretization is undefined.
expect-answers-used
files $folder/saved.twk
menu File/Save As Tarnwick Document
expect-identical $folder/saved.twk
expect-layers 4
menu File/Exit
SCRIPT
program_run "$folder/script.txt"
[ -s "$folder/saved.twk" ] || { echo "the document was not saved"; exit 1; }
echo "N4 (after an Esc that added nothing), NLM and radiomics ran from the menus; the saved document reads back equal"
