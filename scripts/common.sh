# Shared by scripts/run and scripts/test: install what is missing, then
# configure and build in ./build. Sourced, not run.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${SKYFOLD_BUILD_DIR:-$ROOT/build}"

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libjpeg62-turbo-dev libtiff-dev libpng-dev zlib1g-dev
  libopenexr-dev libwebp-dev libexiv2-dev libimage-exiftool-perl openimageio-tools
  qt6-base-dev libqt6svg6 qt6-translations-l10n libgl-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format-14 fonts-noto-cjk xvfb xauth
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# configure_and_build [werror]: "werror" turns warnings into errors (the
# tests); without it the build folder keeps its setting, so running the
# program after the tests rebuilds nothing.
configure_and_build() {
  local flags=(-DCMAKE_BUILD_TYPE=Release)
  [ "${1:-}" = werror ] && flags+=(-DSKYFOLD_WERROR=ON)
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja "${flags[@]}" >/dev/null
  cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}
