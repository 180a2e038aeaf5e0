# The Debian 12 packages the build and the tests need; sourced by run.sh and test.sh.
VANTROPE_BUILD_PACKAGES=(build-essential cmake pkg-config libgl-dev qt6-base-dev qt6-serialport-dev
  libdbus-1-dev libsdl2-mixer-dev)
VANTROPE_TEST_PACKAGES=(libgtest-dev libgmock-dev dbus-daemon util-linux)

vantrope_install() {
  local missing=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}
