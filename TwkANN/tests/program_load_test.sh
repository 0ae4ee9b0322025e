#!/usr/bin/env bash
# Starts the real program headless in a folder that holds the network library beside it: start-up
# loads the library and shows no message (a message box would block the scripted run), and the
# script finds the network library loaded.
#   program_load_test.sh <tarnwick> <libTwkANN.so> <libKinmodels.so> <test tmp folder>
set -euo pipefail
program="$1"; library="$2"; plugin="$3"; tmp="$4"
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/test_folder.sh"
test_folder "$tmp" twkann_program_load
folder="$test_folder"
cp "$program" "$folder/tarnwick"
ln -s "$library" "$folder/libTwkANN.so"
ln -s "$plugin" "$folder/libKinmodels.so"
cat > "$folder/script.txt" <<SCRIPT
expect-network-library
menu File/Exit
SCRIPT
cd "$folder"
status=0
env LD_LIBRARY_PATH="$(dirname "$program")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" QT_QPA_PLATFORM=offscreen \
  OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 TARNWICK_SCRIPT="$folder/script.txt" timeout 60 ./tarnwick || status=$?
[ "$status" -eq 0 ] || { echo "the program ended with $status"; exit 1; }
