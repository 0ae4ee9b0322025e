# Shared steps of the tests that drive the real program under Xvfb; sourced by each test script.
#   program_setup <tarnwick> <libKinmodels.so> <test tmp folder> <test name>
#     makes an empty program folder "$folder" of this run's own under the test tmp folder (removed
#     when the test passes, tests/support/test_folder.sh) holding the program and its plug-in, with a
#     normal 740 x 720 frame placement so that panels open beside it on the 1280 x 1024 screen
#   program_run <script file>
#     starts the program there with the script of user actions (StartupScript.h); fails the test
#     when the program does not end with 0
program_setup() {
  local program="$1" plugin="$2" tmp="$3" name="$4"
  # Checked before the program folder is touched: skipped outside CI, failed under CI.
  command -v xvfb-run >/dev/null ||
    { bash "$(dirname "${BASH_SOURCE[0]}")/../../../../scripts/missing-tool.sh" "xvfb-run (xvfb)"; exit $?; }
  source "$(dirname "${BASH_SOURCE[0]}")/../../../../tests/support/test_folder.sh"
  test_folder "$tmp" "$name"
  folder="$test_folder"
  cp "$program" "$folder/tarnwick"
  ln -s "$plugin" "$folder/libKinmodels.so"
  program_libs="$(dirname "$program")"
  printf '[Settings]\nWindowPos=0:1:-1:-1:-1:-1:0:0:740:720\n' > "$folder/Tarnwick.ini"
}

program_run() {
  local script="$1" status=0
  (cd "$folder" &&
    env LD_LIBRARY_PATH="$program_libs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" QT_QPA_PLATFORM=xcb \
      TARNWICK_SCRIPT="$script" timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" ./tarnwick) || status=$?
  [ "$status" -eq 0 ] || { echo "the program ended with $status"; exit 1; }
}
