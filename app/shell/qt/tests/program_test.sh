#!/usr/bin/env bash
# Starts the real program under Xvfb in an empty program folder, opens a NIfTI volume through the
# File menu, opens the Layers panel, saves a screenshot of the image in its view with the panel,
# scales its voxels to an interval from the Volume menu (its prompt answered) and undoes that,
# saves the document, closes it, opens a NumPy array as RAW data (its dialog shows and is
# cancelled), opens the saved document and quits through the menu; then checks what start-up and
# shutdown left in the program folder.
#   program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder>
set -euo pipefail
program="$1"; plugin="$2"; tmp="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# A missing tool skips the test outside CI and fails it under CI.
missing() { bash "$here/../../../../scripts/missing-tool.sh" "$1" || exit $?; }
# Checked before the program folder is touched.
command -v xvfb-run >/dev/null || missing "xvfb-run (xvfb)"
source "$here/../../../../tests/support/test_folder.sh"
test_folder "$tmp" program_test
folder="$test_folder"
cp "$program" "$folder/tarnwick"
ln -s "$plugin" "$folder/libKinmodels.so"
libs="$(dirname "$program")"

volume=/usr/share/mricron/templates/ch2.nii.gz
if [ ! -f "$volume" ]; then
  # Without the brain template: a small volume of rings written by nibabel.
  volume="$folder/rings.nii"
  python3 - "$volume" <<'PY' || missing "python3-nibabel"
import sys
import numpy as np
import nibabel as nib
z, y, x = np.mgrid[0:24, 0:96, 0:96]
r = np.sqrt((x - 48.0) ** 2 + (y - 48.0) ** 2)
data = (1000 * (np.sin(r / 3.0) + 1) * (1 + z / 24.0)).astype(np.int16).transpose(2, 1, 0)
nib.save(nib.Nifti1Image(data, np.diag([1.0, 1.0, 2.0, 1.0])), sys.argv[1])
PY
fi

# A NumPy array of 4 x 3 x 2 bytes for File > Open RAW Data.
raw="$folder/array.npy"
python3 - "$raw" <<'PY'
import sys
header = "{'descr': '|u1', 'fortran_order': False, 'shape': (2, 3, 4), }"
header += " " * (63 - (10 + len(header)) % 64) + "\n"
with open(sys.argv[1], "wb") as out:
    out.write(b"\x93NUMPY\x01\x00" + len(header).to_bytes(2, "little") + header.encode("latin-1") + bytes(range(24)))
PY

# A normal 740 x 720 frame, so that the Layers panel opens beside it on the 1280 x 1024 screen.
printf '[Settings]\nWindowPos=0:1:-1:-1:-1:-1:0:0:740:720\n' > "$folder/Tarnwick.ini"
shot="$folder/tarnwick_program_screenshot.png"
cat > "$folder/script.txt" <<SCRIPT
files $volume
menu File/Open Image
expect-documents 1
menu Edit/Edit drawing object properties
expect-layers 1
expect-view-content
screenshot $shot
accept-dialog Specify Signal Range = 0 100
menu Volume > Voxel Value Conversion > Scale to Interval
expect-view-content
menu Edit/Undo
files $folder/saved.twk
menu File/Save As Tarnwick Document
menu View/Close Document
expect-documents 0
files $raw
cancel-dialog Specify RAW Volume
menu File/Open RAW Data
expect-documents 0
files $folder/saved.twk
menu File/Open Tarnwick document
expect-documents 1
expect-view-content
menu File/Exit
SCRIPT

cd "$folder"
status=0
env LD_LIBRARY_PATH="$libs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" QT_QPA_PLATFORM=xcb TARNWICK_SCRIPT="$folder/script.txt" \
  timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" ./tarnwick || status=$?
[ "$status" -eq 0 ] || { echo "the program ended with $status"; exit 1; }
[ -s "$shot" ] || { echo "no screenshot"; exit 1; }
[ -d "$folder/Temp" ] || { echo "no temporary folder"; exit 1; }
grep -q "^Temp Folder:=$folder/Temp$" "$folder/TarnwickConfig.txt" || { echo "options file not written"; exit 1; }
grep -Eq '^WindowPos=-?[0-9]+(:-?[0-9]+){9}$' "$folder/Tarnwick.ini" || { echo "placement not stored"; exit 1; }
[ -s "$folder/saved.twk" ] || { echo "the document was not saved"; exit 1; }
grep -q "^File1=$folder/saved.twk$" "$folder/Tarnwick.ini" || { echo "the saved document is not the first recent file"; exit 1; }
grep -q "=$volume$" "$folder/Tarnwick.ini" || { echo "the opened image is not among the recent files"; exit 1; }
echo "start-up, the File menu, the Layers panel and shutdown ran"
