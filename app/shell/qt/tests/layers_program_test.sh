#!/usr/bin/env bash
# The Layers panel's layer commands and the System menu's boxes in the real program: a NIfTI is
# opened, "Duplicate" adds a second row, "Save Image" writes a NIfTI that nibabel reads with the
# image's shape, "Operation" shows "Layer Operations", and "CPU Info" and "About this Application"
# show their boxes.
#   layers_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/program_kit.sh"
program_setup "$1" "$2" "$3" layers_program_test

image="$folder/brain.nii"
/usr/bin/python3 - "$image" <<'PY'
import sys
import numpy as np
import nibabel as nib
z, y, x = np.mgrid[0:10, 0:48, 0:40]
data = (100 * np.sin(x / 4.0) + 50 * np.cos(y / 6.0) + 10 * z + 200).astype(np.int16).transpose(2, 1, 0)
nib.save(nib.Nifti1Image(data, np.diag([1.0, 1.2, 2.5, 1.0])), sys.argv[1])
PY

cat > "$folder/script.txt" <<SCRIPT
files $image
menu File/Open Image
menu Edit/Edit drawing object properties
expect-layers 1
press Duplicate
expect-layers 2
files $folder/exported.nii
answer No
press Save Image
expect-answers-used
press Operation
wait-dialog Layer Operations
press OK
expect-no-dialog Layer Operations
menu-start System/CPU Info
wait-dialog CPU Info
press OK
expect-no-dialog CPU Info
cancel-dialog About Tarnwick
menu System/About this Application
answer No
menu File/Exit
SCRIPT
program_run "$folder/script.txt"

/usr/bin/python3 - "$folder/exported.nii" <<'PY'
import sys
import nibabel as nib
shape = nib.load(sys.argv[1]).shape
sys.exit(0 if shape == (40, 48, 10) else 'exported shape %s' % (shape,))
PY
echo "duplicate, export, layer operations, CPU Info and About all ran"
