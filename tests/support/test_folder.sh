# Where a test script writes its files, as TestFolder.h gives them to the C++ tests; sourced by the
# script.
#   test_folder <root> <name>
#     makes "$test_folder", a folder of this run's own (mktemp) under <root>, the build's test folder
#     (the system's temporary folder when <root> is empty), so that tests running side by side, and
#     two test runs over one build, never meet in a file name. When the script ends passed (0) or
#     skipped (77) the folder is removed; after a failure it stays, and its path is printed.
test_folder() {
  local root="${1:-${TMPDIR:-/tmp}}" name="$2"
  mkdir -p "$root"
  test_folder="$(mktemp -d "$root/$name-XXXXXX")"
  trap 'test_folder_end $?' EXIT
}

test_folder_end() {
  case "$1" in
    0 | 77) rm -rf "$test_folder" ;;
    *) echo "the test files are kept in $test_folder" ;;
  esac
}
