#!/usr/bin/env bash
# "Mutual Info with AutoFocus" in the real program: the ch2 brain at 2 mm and a copy moved by a
# known rigid motion (scipy) are opened; an Esc during the search adds nothing; the registration
# run from the menu adds "<moved>_registered" to the original's document, which, saved as NIfTI,
# matches the original inside the head.
#   autofocus_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder> <program kit>
set -euo pipefail
source "$4"
program_setup "$1" "$2" "$3" autofocus_program_test

original="$folder/original.nii"
moved="$folder/moved.nii"
/usr/bin/python3 - "$original" "$moved" <<'PY'
import sys
import numpy as np
import nibabel as nib
from scipy import ndimage as ndi
img = nib.load('/usr/share/mricron/templates/ch2.nii.gz')
a = np.asarray(img.dataobj, dtype=np.float64)
a = ndi.zoom(ndi.gaussian_filter(a, 0.8), 0.5, order=1)   # 1 mm -> 2 mm
a = np.pad(a, 4)
sp = 2.0
affine = np.diag([sp, sp, sp, 1.0])
nib.save(nib.Nifti1Image(a.astype(np.float32), affine), sys.argv[1])
# The moved copy samples the original at R (p - c) + c + t (millimetres about the grid centre).
ang = np.radians(3.0)
R = np.array([[np.cos(ang), -np.sin(ang), 0], [np.sin(ang), np.cos(ang), 0], [0, 0, 1]])
c = (np.array(a.shape) - 1) / 2.0 * sp
t = np.array([4.0, -3.0, 2.0])
inv = np.linalg.inv(R)
# moved(q) = original(R^-1 (q - c - t) + c), in voxel indices.
offset = (inv @ (-c - t) + c) / sp
m = ndi.affine_transform(a, inv, offset=offset, order=1, mode='constant', cval=0.0)
nib.save(nib.Nifti1Image(m.astype(np.float32), affine), sys.argv[2])
PY
printf 'ImageOpenLayout:=1\nProjViewConvention:=0\nDisplayOrient:=0\n' > "$folder/TarnwickConfig.txt"

# The moved copy opens first: the original's document, opened last, is active and is the target.
cat > "$folder/script.txt" <<SCRIPT
files $moved
menu File/Open Image
files $original
menu File/Open Image
expect-documents 2
menu Edit/Edit drawing object properties
expect-layers 1
menu-start Register/Mutual Info with AutoFocus
wait-dialog 3D Registration with AutoFocus
press OK
wait-working
esc-after 0
expect-stopped
wait-idle
expect-layers 1
accept-dialog 3D Registration with AutoFocus
menu Register/Mutual Info with AutoFocus
wait-idle
expect-layers 2
expect-layer 1 moved_registered
select-row moved_registered
files $folder/registered.nii
answer No
menu File/Save Active Layer As Image
expect-answers-used
answer No
answer No
menu File/Exit
SCRIPT
program_run "$folder/script.txt"

/usr/bin/python3 - "$original" "$folder/registered.nii" <<'PY'
import sys
import numpy as np
import nibabel as nib
a = np.asarray(nib.load(sys.argv[1]).dataobj, dtype=np.float64)
b = np.asarray(nib.load(sys.argv[2]).dataobj, dtype=np.float64)
if a.shape != b.shape:
    sys.exit('the registered layer has shape %s, the original %s' % (b.shape, a.shape))
if np.array_equal(a, b):
    sys.exit('the saved layer is the original itself, not the registered one')
head = a > 0.1 * a.max()
inside = head & np.isfinite(b) & (np.abs(b) < 1e30)
r = np.corrcoef(a[inside], b[inside])[0, 1]
err = np.abs(a[inside] - b[inside]).mean() / a[head].mean()
print('registered vs original inside the head: r %.4f, mean error %.4f of the mean' % (r, err))
if inside.sum() < 0.95 * head.sum() or r < 0.99 or err > 0.05:
    sys.exit('registered vs original: r %.4f, mean error %.3f of the mean, %d of %d head voxels'
             % (r, err, inside.sum(), head.sum()))
PY
echo "Esc in the search added nothing; Mutual Info with AutoFocus undid the motion of the moved copy"
