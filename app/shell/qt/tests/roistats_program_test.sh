#!/usr/bin/env bash
# The 3D ROI statistics in the real program: a NIfTI is opened, the Layers panel's "ROI Stats 3D"
# opens the statistics of the whole volume, "Save Stats" writes RoiStats3D.txt into the temporary
# work folder (shown in the text viewer), OK closes the dialog; the report holds the image's
# voxel count, minimum and maximum as numpy reads them.
#   roistats_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/program_kit.sh"
program_setup "$1" "$2" "$3" roistats_program_test

image="$folder/ramp.nii"
/usr/bin/python3 - "$image" <<'PY'
import sys
import numpy as np
import nibabel as nib
data = np.arange(40 * 30 * 8, dtype=np.int16).reshape(8, 30, 40).transpose(2, 1, 0) % 1000
nib.save(nib.Nifti1Image(data, np.diag([1.0, 1.0, 2.0, 1.0])), sys.argv[1])
PY

cat > "$folder/script.txt" <<SCRIPT
files $image
menu File/Open Image
menu Edit/Edit drawing object properties
expect-layers 1
press ROI Stats 3D
wait-dialog CDlgRoiStat3D
press Save Stats
press OK
expect-no-dialog CDlgRoiStat3D
menu File/Exit
SCRIPT
program_run "$folder/script.txt"

/usr/bin/python3 - "$folder/Temp/RoiStats3D.txt" "$image" <<'PY'
import sys
import numpy as np
import nibabel as nib
text = open(sys.argv[1], encoding='utf-8').read()
data = np.asarray(nib.load(sys.argv[2]).dataobj)
want = ['Volume (vox):= %d' % data.size, 'Signal Min      := %e' % data.min(),
        'Signal Max      := %e' % data.max(), 'Number of Bins:= 100']
missing = [w for w in want if w not in text]
sys.exit('RoiStats3D.txt lacks %s:\n%s' % (missing, text[:400]) if missing else 0)
PY
echo "ROI Stats 3D opened from the Layers panel and Save Stats wrote RoiStats3D.txt"
