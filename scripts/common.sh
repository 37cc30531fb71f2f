# Shared by scripts/run and scripts/test: install what is missing, configure, build.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

EnsurePackages() {
  local missing=()
  local pkg
  while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done < "$ROOT/scripts/packages.txt"
  [[ ${#missing[@]} -eq 0 ]] && return 0
  if [[ $(id -u) -eq 0 ]]; then
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Some packages are missing. Install them with:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    echo "then run this script again." >&2
    exit 1
  fi
}

Build() {
  cmake -S "$ROOT" -B "$BUILD_DIR" "$@" >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

# The Windows build as it is shipped: no asserts or test seams, like the Debian package.
WindowsBuildOptions() {
  echo "-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64.cmake -DPFAD_CHECKS=OFF"
}
