# Installs the Debian packages named as arguments that aren't installed yet.
# Sourced by the other scripts.
ensure_packages() {
  local missing=()
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# What building the tool needs.
BUILD_PACKAGES=(cmake make g++ nlohmann-json3-dev libsqlite3-dev tzdata)

# What the tests need besides: GoogleTest, and CCTZ, their oracle for the tz
# database, which the tool reads itself.
TEST_PACKAGES=(libgtest-dev libcctz-dev)

# What the tests of GNOME's calendars need, and the tool doesn't: Evolution
# Data Server's daemons and a session bus to run them on, and libecal's
# headers to check the tool's declarations of its entry points against, and
# a CalDAV server for its remote calendars (Radicale, as a Python module: the
# package `radicale` would add a system service).
EDS_TEST_PACKAGES=(evolution-data-server dbus libecal2.0-dev pkg-config python3-radicale)
