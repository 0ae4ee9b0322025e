#!/usr/bin/env bash
# The brain commands in the real program: a brain-like FLAIR phantom (white matter 100 under a gray
# rim of 80, joined ventricle lobes of 20, two lesions of 180, noise) is opened; "White Matter FLAIR
# Lesions" with its dialog accepted adds the lesion, gray matter, lateral ventricle and white matter
# layers; "Segment Lateral Ventricle from T1W or FLAIR" adds "lateral ventricle".
#   brain_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder> <program kit>
set -euo pipefail
source "$4"
program_setup "$1" "$2" "$3" brain_program_test

volume="$folder/flair.nii"
/usr/bin/python3 - "$volume" <<'PY'
import sys
import numpy as np
import nibabel as nib
rng = np.random.default_rng(7)
x, y, z = np.mgrid[:64, :72, :56].astype(float)
def ell(cx, cy, cz, rx, ry, rz):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 + ((z - cz) / rz) ** 2 <= 1
c = (31.5, 35.5, 27.5)
data = np.where(ell(*c, 26, 30, 22), np.where(ell(*c, 23, 27, 19), 100.0, 80.0), 0.0)
data[ell(c[0] - 4, c[1], c[2] + 2, 6, 11, 5) | ell(c[0] + 4, c[1], c[2] + 2, 6, 11, 5)] = 20
data[ell(c[0] - 13, c[1] + 12, c[2] - 4, 3, 3, 3) | ell(c[0] + 13, c[1] - 14, c[2] + 6, 3, 3, 3)] = 180
data = np.where(data > 0, data + rng.normal(0, 2, data.shape), 0).clip(0, None)
nib.save(nib.Nifti1Image(data.astype(np.int16), np.diag([1.5, 1.5, 1.5, 1.0])), sys.argv[1])
PY
printf 'ImageOpenLayout:=1\nProjViewConvention:=0\nDisplayOrient:=0\n' > "$folder/TarnwickConfig.txt"

cat > "$folder/script.txt" <<SCRIPT
files $volume
menu File/Open Image
expect-documents 1
menu Edit/Edit drawing object properties
expect-layers 1
accept-dialog White Matter Lesions Segmentation (FLAIR) Using Lateral Ventricle
menu Workflows > Brain MR > White Matter FLAIR Lesions
wait-idle
expect-layers 5
expect-layer 2 gray matter
expect-layer 3 lateral ventricle
expect-layer 4 white matter
accept-dialog Lateral Ventricle Segmentation
menu Workflows > Brain MR > Segment Lateral Ventricle from T1W or FLAIR
wait-idle
expect-layers 6
expect-layer 5 lateral ventricle
answer No
menu File/Exit
SCRIPT
program_run "$folder/script.txt"
echo "White Matter FLAIR Lesions and Segment Lateral Ventricle ran from the menus"
