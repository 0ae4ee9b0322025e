#!/usr/bin/env bash
# "Transform > Make Isotropic" in the real program: a NIfTI of 0.5 x 0.5 x 3 mm voxels is opened,
# the menu bar's command resamples it to 0.5 mm into a new document, whose layer is saved as NIfTI;
# nibabel reads 0.5 mm voxels, six times the slices, and the bright marker voxel at the same place
# in the patient within half a voxel. The new document is not saved at the exit question.
#   isotropic_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/program_kit.sh"
program_setup "$1" "$2" "$3" isotropic_program_test

image="$folder/aniso.nii"
/usr/bin/python3 - "$image" <<'PY'
import sys
import numpy as np
import nibabel as nib
data = np.full((24, 20, 6), 10, dtype=np.int16)
data[15:18, 6:9, 3] = 1000  # the marker
affine = np.diag([0.5, 0.5, 3.0, 1.0])
affine[:3, 3] = [-4.0, 7.0, 12.0]
nib.save(nib.Nifti1Image(data, affine), sys.argv[1])
PY

cat > "$folder/script.txt" <<SCRIPT
files $image
menu File/Open Image
expect-documents 1
accept-dialog Specify value = 0.5
menu Transform/Make Isotropic
expect-documents 2
files $folder/iso.nii
answer No
menu File/Save Active Layer As Image
expect-answers-used
answer No
menu File/Exit
SCRIPT
program_run "$folder/script.txt"

/usr/bin/python3 - "$image" "$folder/iso.nii" <<'PY'
import sys
import numpy as np
import nibabel as nib
src, iso = nib.load(sys.argv[1]), nib.load(sys.argv[2])
zooms = np.array(iso.header.get_zooms()[:3])
problems = []
if not np.allclose(zooms, 0.5, atol=1e-4):
    problems.append('voxel size %s' % zooms)
if iso.shape[2] != 6 * src.shape[2]:
    problems.append('%d slices from %d' % (iso.shape[2], src.shape[2]))
def centre(img):
    a = np.asarray(img.dataobj).astype(float)
    idx = np.argwhere(a > 500).mean(axis=0)
    return img.affine[:3, :3] @ idx + img.affine[:3, 3]
if not problems:
    moved = np.linalg.norm(centre(src) - centre(iso))
    if moved > 0.25:
        problems.append('the marker moved %.3f mm' % moved)
sys.exit('; '.join(problems) if problems else 0)
PY
echo "Make Isotropic from the menu bar gave 0.5 mm voxels with the marker in place"
