#!/usr/bin/env bash
# Saving never writes a document over the image it was opened from. The real program opens a copy of
# a NIfTI volume and saves it three ways: Quick Save, the close question answered "Yes", and the
# exit question answered "Yes". Each time the save dialog must be asked (the queued answer is used),
# the image keeps its bytes, and the chosen name holds a document equal to the one that was open.
#   save_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/program_kit.sh"
program_setup "$1" "$2" "$3" save_program_test

image="$folder/brain.nii"
/usr/bin/python3 - "$image" <<'PY'
import sys
import numpy as np
import nibabel as nib
z, y, x = np.mgrid[0:12, 0:64, 0:64]
data = (100 * np.sin(x / 5.0) * np.cos(y / 7.0) + 10 * z).astype(np.int16).transpose(2, 1, 0)
nib.save(nib.Nifti1Image(data, np.diag([0.9, 0.9, 2.0, 1.0])), sys.argv[1])
PY
before="$(sha256sum < "$image")"

cat > "$folder/script.txt" <<SCRIPT
files $image
menu File/Open Image
expect-documents 1
files $folder/quick.twk
menu File/Quick Save Tarnwick Document
expect-answers-used
expect-identical $folder/quick.twk
menu View/Close Document
expect-documents 0
files $image
menu File/Open Image
expect-documents 1
set-modified
answer Yes
files $folder/closed.twk
menu View/Close Document
expect-answers-used
expect-message Document was modified. Would you like to save it?
expect-documents 0
files $folder/closed.twk
menu File/Open Tarnwick document
expect-view-content
menu View/Close Document
files $image
menu File/Open Image
expect-documents 1
set-modified
answer Yes
files $folder/exit.twk
menu File/Exit
SCRIPT
program_run "$folder/script.txt"

[ "$(sha256sum < "$image")" = "$before" ] || { echo "the image was changed"; exit 1; }
for saved in quick closed exit; do
  header="$(head -c 44 "$folder/$saved.twk" | iconv -f UTF-16LE -t UTF-8)"
  [[ "$header" == "Tarnwick v.17 document"* ]] || { echo "$saved.twk is not a document"; exit 1; }
done
echo "the image kept its bytes; three documents saved under new names"
