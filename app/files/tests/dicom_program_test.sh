#!/usr/bin/env bash
# Starts the real program under Xvfb and drives its DICOM dialogs with a start-up script: a folder
# of 20,000 files shows the "DICOM Tree" dialog painted while the scan's progress moves, Esc stops
# the scan at once and neither the dialog nor the program closes; a small folder opens through
# "Open DICOM folder : Single Document" and "Load" into a document with an image in its view; the
# Layers panel's "Load DICOM" adds the series as a layer and "Info" shows "Volume Info".
#   dicom_program_test.sh <tarnwick> <libKinmodels.so> <test tmp folder> <fixture script>
set -euo pipefail
fixtures="$4"
source "$(dirname "${BASH_SOURCE[0]}")/../../shell/qt/tests/program_kit.sh"
program_setup "$1" "$2" "$3" dicom_program_test
# A frame as large as the screen allows, so that the dialogs open over it.
printf '[Settings]\nWindowPos=0:1:-1:-1:-1:-1:0:0:1200:900\n' > "$folder/Tarnwick.ini"

/usr/bin/python3 "$fixtures" make "$folder/data" >/dev/null
/usr/bin/python3 "$fixtures" folder "$folder/large" 20000 >/dev/null
small="$folder/data/gap1005"
large="$folder/large"
scan="$folder/tarnwick_dicom_scan.png"; loaded="$folder/tarnwick_dicom_loaded.png"; info="$folder/tarnwick_dicom_info.png"
cat > "$folder/script.txt" <<SCRIPT
files $large
menu-start File/Open DICOM folder : Single Document
wait-dialog DICOM Tree
wait-progress 5
screenshot $scan
wait-progress 8
esc-after 0
expect-stopped
expect-dialog DICOM Tree
expect-rows 0
answer OK
press Compare
expect-message CDlgOpenDicomDir::OnBnClickedCompareItems : Only two image comparison is allowed
esc-after 0
expect-no-dialog DICOM Tree
expect-documents 0
files $small
menu-start File/Open DICOM folder : Single Document
wait-dialog DICOM Tree
wait-idle
expect-rows 13
tick-row Gap1005
select-row Gap1005
press Load
wait-idle
expect-documents 1
expect-view-content
screenshot $loaded
menu Edit/Edit drawing object properties
expect-layers 1
files $small
press Load DICOM
wait-dialog DICOM Tree
wait-idle
select-row Gap1005
press Load
wait-idle
expect-layers 2
press Info
wait-dialog Volume Info
screenshot $info
esc-after 0
expect-no-dialog Volume Info
answer No
menu File/Exit
SCRIPT

program_run "$folder/script.txt"
for shot in "$scan" "$loaded" "$info"; do [ -s "$shot" ] || { echo "no screenshot $shot"; exit 1; }; done
echo "the scan, the loaded series and the volume information were shown"
