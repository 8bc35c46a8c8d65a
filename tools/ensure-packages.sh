# Sourced by ./run and ./check: installs the Debian packages that are missing.
#
#   ensure_packages pkg...   installs (with apt-get, as root or through sudo) each package that
#                            dpkg does not list as installed; refreshes the package lists once.

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "Missing packages: ${missing[*]}; run as root or install them first." >&2
      return 1
    fi
  fi
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

# What every build needs: the compiler, CMake and the libraries of the tools.
TAVRIX_BUILD_PACKAGES=(g++ cmake make pkg-config qt6-base-dev qt6-qpa-plugins fonts-liberation
                       fonts-dejavu-core)
# What the tests, the fuzz targets and the benchmarks need on top; the end-to-end test drives
# the installer in a virtual X server (xvfb), clicks it (xdotool) and takes screenshots
# (imagemagick).
TAVRIX_TEST_PACKAGES=(libgtest-dev libgmock-dev clang libclang-rt-dev libbenchmark-dev
                      liblz4-dev liblzo2-dev liblzf-dev zlib1g-dev xvfb xdotool imagemagick)
