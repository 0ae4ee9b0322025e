# Shared steps of the program tests (sourced): a program folder of its own and a run of the real
# program under Xvfb with a startup script.

# prepare_program <tarnwick> <libKinmodels.so> <folder>: an empty folder holding the program and
# the kinetic-model plug-in; skips the test (77) without xvfb-run.
prepare_program() {
  local program="$1" plugin="$2" folder="$3"
  rm -rf "$folder"; mkdir -p "$folder"
  cp "$program" "$folder/tarnwick"
  ln -s "$plugin" "$folder/libKinmodels.so"
  command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed"; exit 77; }
}

# run_program <folder> <library folder>: runs the program with <folder>/script.txt on a 1280 x 1024
# screen; fails the test unless it ends with 0.
run_program() {
  local folder="$1" libs="$2" status=0
  (cd "$folder" && env LD_LIBRARY_PATH="$libs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" QT_QPA_PLATFORM=xcb \
    TARNWICK_SCRIPT="$folder/script.txt" timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" ./tarnwick) || status=$?
  [ "$status" -eq 0 ] || { echo "the program ended with $status"; exit 1; }
}
