#!/usr/bin/env bash
# "Measure > Motion Profile Diagram" in the real program: a 4D NIfTI is opened, the panel opens from
# the menu bar, and the pointer moving over the view feeds it: its text shows the profile's range
# (every voxel is 5 + 1000 t, so the lines through any voxel span 5 to 2005 over three time points).
# The modality question of the opening is answered as offered. A second menu command while the panel is open opens nothing; the panel closes with the program.
#   motion_profile_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../shell/qt/tests/program_kit.sh"
program_setup "$1" "$2" "$3" motion_profile_program_test

image="$folder/series.nii"
/usr/bin/python3 - "$image" <<'PY'
import sys
import numpy as np
import nibabel as nib
data = np.zeros((24, 20, 6, 3), dtype=np.int16)
for t in range(3):
    data[..., t] = 5 + 1000 * t
nib.save(nib.Nifti1Image(data, np.diag([1.0, 1.0, 2.0, 1.0])), sys.argv[1])
PY

cat > "$folder/script.txt" <<SCRIPT
files $image
menu-start File/Open Image
wait-dialog Specify Modality
press OK
wait-idle
expect-documents 1
menu Measure/Motion Profile Diagram
expect-dialog Motion Profile Diagram
move 150,150
move 160,170
expect-label Info (min=5.000000e+00,max=2.005000e+03)
menu Measure/Motion Profile Diagram
expect-dialog Motion Profile Diagram
expect-documents 1
menu File/Exit
SCRIPT
program_run "$folder/script.txt"
echo "The motion profile panel followed the pointer over the 4D view"
