#!/usr/bin/env bash
# EdgeWave in the real program: a 64 x 64 x 32 phantom (a ball of radius 12 at 600 in 100, noise
# SD 30) is opened, a seed box is drawn inside the ball with "Construct Vector ROI", "EdgeWave
# Basic" runs from the Segment menu with its dialog accepted, the mask layer "phantom_ewmask" is
# saved as NIfTI and read back by nibabel (DICE with the ball at least 0.95), and the document is
# saved and equals the saved file when read back.
#   edgewave_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder> <program kit>
set -euo pipefail
source "$4"
program_setup "$1" "$2" "$3" edgewave_program_test

volume="$folder/phantom.nii"
/usr/bin/python3 - "$volume" <<'PY'
import sys
import numpy as np
import nibabel as nib
rng = np.random.default_rng(11)
x, y, z = np.mgrid[:64, :64, :32]
ball = (x - 32)**2 + (y - 32)**2 + ((z - 16) * 2.0)**2 <= 24**2
data = np.where(ball, 600.0, 100.0) + rng.normal(0, 30, ball.shape)
nib.save(nib.Nifti1Image(data.astype(np.int16), np.diag([1.0, 1.0, 2.0, 1.0])), sys.argv[1])
PY
printf 'ImageOpenLayout:=1\nProjViewConvention:=0\nDisplayOrient:=0\n' > "$folder/TarnwickConfig.txt"

cat > "$folder/script.txt" <<SCRIPT
files $volume
menu File/Open Image
expect-documents 1
menu Edit/Edit drawing object properties
expect-layers 1
toolbar Construct Vector ROI
drag left 280,280 310,300 4
click 310,300
accept-dialog EdgeWave Parameters
menu Segment/EdgeWave Basic
wait-idle
expect-layers 2
expect-layer 1 phantom_ewmask
expect-roi-voxels >10000
files $folder/mask.nii
answer No
menu File/Save Active Layer As Image
expect-answers-used
files $folder/saved.twk
menu File/Save As Tarnwick Document
expect-identical $folder/saved.twk
menu File/Exit
SCRIPT
program_run "$folder/script.txt"
[ -s "$folder/saved.twk" ] || { echo "the document was not saved"; exit 1; }

/usr/bin/python3 - "$folder/mask.nii" <<'PY'
import sys
import numpy as np
import nibabel as nib
mask = np.asarray(nib.load(sys.argv[1]).dataobj) > 0
x, y, z = np.mgrid[:64, :64, :32]
ball = (x - 32)**2 + (y - 32)**2 + ((z - 16) * 2.0)**2 <= 24**2
if mask.shape != ball.shape:
    sys.exit('mask shape %s' % (mask.shape,))
dice = 2.0 * (mask & ball).sum() / (mask.sum() + ball.sum())
print('DICE %.4f' % dice)
sys.exit(0 if dice >= 0.95 else 'DICE %.4f below 0.95' % dice)
PY
echo "a drawn seed and EdgeWave Basic from the menu gave phantom_ewmask, saved and read back"
