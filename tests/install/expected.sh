# expected_files REPORT_BUILT: the expected file list, sorted; the lines of
# tallyphon-report only when REPORT_BUILT is 1.
expected_list=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/expected_files.txt
expected_files() {
    grep -v '^#' "$expected_list" |
        { if [ "$1" = 1 ]; then cat; else grep -v tallyphon-report; fi; } | LC_ALL=C sort
}
