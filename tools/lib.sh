# Shared by the scripts in tools/: source it after `set -euo pipefail` with
# the script's name, e.g. `. "$(dirname "$0")/lib.sh" package`.
#
#   say TEXT...              a line of progress, prefixed with the script's name
#   die TEXT...              the same on standard error, then exit 1
#   require_debian           stop unless this is Debian 12 or 13; sets
#                            debian_codename (bookworm, trixie) and debian_major
#   project_version          the version stated once in CMakeLists.txt's project()
#   apt ARGS...              apt-get as root (sudo when not), waiting for a held lock
#   apt_install PACKAGE...   install the packages that are missing
#   sudo_cmd                 an array: empty as root, (sudo) otherwise

mizong_script=${1:-tools}
mizong_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

say() { echo "$mizong_script: $*"; }
die() { echo "$mizong_script: $*" >&2; exit 1; }

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

# The release decides the package names; anything else is refused up front
# rather than left to a cascade of apt errors. (MIZONG_OS_RELEASE names
# another file, for the test of this choice.)
require_debian() {
  local os_release=${MIZONG_OS_RELEASE:-/etc/os-release} id= codename=
  if [ -r "$os_release" ]; then
    id=$(. "$os_release" && echo "${ID:-}")
    codename=$(. "$os_release" && echo "${VERSION_CODENAME:-}")
  fi
  case "$id/$codename" in
  debian/bookworm) debian_major=12 ;;
  debian/trixie) debian_major=13 ;;
  *) die "mizong is built on Debian 12 (bookworm) or Debian 13 (trixie); this system is '${id:-unknown}${codename:+ $codename}' ($os_release)${1:+, $1}" ;;
  esac
  debian_codename=$codename
}

project_version() {
  local version
  version=$(sed -n 's/^project(mizong VERSION \([0-9][0-9.]*\).*/\1/p' "$mizong_root/CMakeLists.txt")
  [ -n "$version" ] || die "no project(mizong VERSION ...) in CMakeLists.txt"
  echo "$version"
}

# apt and dpkg are shared with whatever else runs on the machine: wait for
# the lock instead of failing on it.
apt() { "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 "$@"; }

apt_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  apt update -qq
  apt install -y -qq --no-install-recommends "${missing[@]}"
}
