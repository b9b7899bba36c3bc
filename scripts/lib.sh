# Shared by the scripts: locations and the root-or-sudo helper.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${RAVLEK_BUILD_DIR:-$root/build}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
