# shellcheck shell=bash
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
#
# A throwaway Debian root (as root; check-in-root and package --verify):
#   make_root RELEASE [NAME] a fresh root of RELEASE (debootstrap
#                            --variant=minbase) in a new directory
#                            /var/tmp/mizong-NAME.XXXXXX (NAME: RELEASE), set as
#                            $root, from this machine's Debian archives, with
#                            their apt sources, its resolv.conf and localhost;
#                            removed on exit, also by INT or TERM. Its packages
#                            come from a tarball in ~/.cache/mizong, remade
#                            after a week (MIZONG_NO_CACHE=1: from the archive)
#   mount_root DIR           /proc, a read-only /sys and a private /dev (a few
#                            nodes, its own pts and shm) in the root DIR
#   remove_root DIR          end what runs in DIR, unmount all under it
#                            (innermost first, lazily if busy), then remove it
#                            without leaving its file system; status 1 and DIR
#                            kept while a mount stays
#
#   read_layout FILE         the window's controls from its layout table
#                            (app/form_layout.tsv), in pixels at 96 dpi: the
#                            associative arrays control_rect[NAME]="LEFT TOP
#                            WIDTH HEIGHT" and control_centre[NAME]="X Y", where
#                            a click lands; Text1(0) is named Text1_0

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

# --- throwaway roots -------------------------------------------------------

# What make_root writes beside the root (its log, a tarball being made),
# removed with it.
root_scratch=()

make_root() {
  local release=$1 name=${2:-$1}
  apt_install debootstrap
  [ -e "/usr/share/debootstrap/scripts/$release" ] || die "this debootstrap does not know $release"

  # This machine's Debian archives (main, updates, security), whatever format
  # its sources use; the root gets the same archives for its own release.
  require_debian "whose archives the root is made from"
  local host_release=$debian_codename targets mirror sources
  targets=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
    awk -v r="$host_release" '$2 == r || index($2, r "-") == 1' | sort -u)
  mirror=$(awk -v r="$host_release" '$2 == r { print $1; exit }' <<<"$targets")
  [ -n "$mirror" ] || die "no Debian $host_release archive in this machine's apt sources"
  sources=$(awk -v r="$host_release" -v t="$release" '{ sub("^" r, t, $2); c[$1" "$2] = c[$1" "$2] " " $3 }
    END { for (k in c) print "deb " k c[k] }' <<<"$targets" | sort)

  local arch cache_home cache_dir tarball
  arch=$(dpkg --print-architecture)
  # Under sudo, the cache of the user who asked.
  cache_home=${SUDO_USER:+$(getent passwd "$SUDO_USER" | cut -d: -f6)}
  cache_dir=${cache_home:-$HOME}/.cache/mizong
  tarball=$cache_dir/debootstrap-$release-minbase-$arch.tgz

  root=
  trap _teardown_root EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  root=$(mktemp -d "/var/tmp/mizong-$name.XXXXXX")
  chmod 755 "$root" # apt's unprivileged _apt user must reach its lists inside
  local log=$root.log started=$SECONDS
  root_scratch+=("$log")

  if [ -z "${MIZONG_NO_CACHE:-}" ] && ! _fresh "$tarball"; then
    say "downloading the $release minbase packages into $tarball"
    mkdir -p "$cache_dir"
    local new=$tarball.$$.new
    root_scratch+=("$new")
    debootstrap --variant=minbase --make-tarball="$new" "$release" "$root/tarball" "$mirror" >"$log" 2>&1 ||
      { tail -n 30 "$log"; die "debootstrap failed"; }
    mv "$new" "$tarball"
    rm -rf --one-file-system "$root/tarball"
  fi
  local from=()
  if [ -z "${MIZONG_NO_CACHE:-}" ] && _fresh "$tarball"; then
    say "debootstrap --variant=minbase $release into $root (packages from $tarball)"
    from=(--unpack-tarball="$tarball")
  else
    say "debootstrap --variant=minbase $release from $mirror into $root"
  fi
  debootstrap --variant=minbase "${from[@]}" "$release" "$root" "$mirror" >"$log" 2>&1 ||
    { tail -n 30 "$log"; die "debootstrap failed"; }
  rm -f "$log"
  say "root made in $((SECONDS - started)) s"

  printf '%s\n' "$sources" >"$root/etc/apt/sources.list"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  # Tests and a home site on the loopback are reached by name too.
  printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
}

# Made within the last week.
_fresh() { [ -n "$(find "$1" -mtime -7 2>/dev/null)" ]; }

mount_root() {
  local dir=$1 n
  mount -t proc proc "$dir/proc"
  mount -t sysfs -o ro sysfs "$dir/sys"
  # A private /dev with just the nodes a build, its tests and the program
  # need, never the host's /dev itself.
  mount -t tmpfs -o mode=755,nosuid tmpfs "$dir/dev"
  for n in null zero full random urandom tty; do
    touch "$dir/dev/$n"
    mount --bind "/dev/$n" "$dir/dev/$n"
  done
  mkdir "$dir/dev/pts" "$dir/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666 devpts "$dir/dev/pts"
  ln -s pts/ptmx "$dir/dev/ptmx"
  ln -s /proc/self/fd "$dir/dev/fd"
  # POSIX shared memory and named semaphores (shm_open, sem_open) live here.
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$dir/dev/shm"
}

remove_root() {
  local dir=$1 p pids m
  [ -n "$dir" ] && [ -d "$dir" ] || return 0
  case $dir in
  /?*/?*) ;;
  *) echo "$mizong_script: not removing '$dir' as a throwaway root" >&2; return 1 ;;
  esac
  # Whatever still runs inside keeps its mounts busy; killed, it lets go
  # once it has ended.
  for _ in $(seq 50); do
    pids=()
    for p in /proc/[0-9]*; do
      case $(readlink "$p/root" 2>/dev/null) in "$dir" | "$dir"/*) pids+=("${p#/proc/}") ;; esac
    done
    [ ${#pids[@]} -gt 0 ] || break
    kill -KILL "${pids[@]}" 2>/dev/null
    sleep 0.1
  done
  # Innermost first; a lazy unmount detaches a busy mount from the tree at once.
  _mounts_under "$dir" | sort -r | while IFS= read -r m; do
    umount "$m" 2>/dev/null || umount -l "$m" || true
  done
  # Unknown mounts count as remaining: rm must never reach into one.
  if ! m=$(_mounts_under "$dir") || [ -n "$m" ]; then
    echo "$mizong_script: mounts under $dir remain; not removing it" >&2
    return 1
  fi
  rm -rf --one-file-system "$dir"
}

_mounts_under() {
  local all
  all=$(findmnt -rn -o TARGET) || return 1
  awk -v d="$1" '$0 == d || index($0, d "/") == 1' <<<"$all"
}

# The EXIT trap of make_root, keeping the script's exit status (1 if the root
# stays). A second Ctrl+C must not cut it short with mounts left.
_teardown_root() {
  local status=$?
  trap - EXIT
  trap '' INT TERM
  set +e
  [ ${#root_scratch[@]} -eq 0 ] || rm -f "${root_scratch[@]}"
  if [ -n "${root:-}" ] && [ -d "$root" ]; then
    if remove_root "$root"; then say "removed $root"; else status=1; fi
  fi
  exit $status
}

# --- the window's layout ---------------------------------------------------

# Columns by position: the table may grow more at its end.
read_layout() {
  local file=$1 rows name left top width height
  rows=$(awk -F'\t' '!/^#/ && NF {
      for (i = 3; i <= 6; i++) if ($i !~ /^[0-9]+$/) {
        printf "%s:%d: not a control: %s\n", FILENAME, NR, $0 > "/dev/stderr"; bad = 1; next
      }
      name = $1; gsub(/\(/, "_", name); gsub(/\)/, "", name)
      # Twips to pixels, half up.
      printf "%s %d %d %d %d\n", name, int($3 / 15 + 0.5), int($4 / 15 + 0.5), int($5 / 15 + 0.5), int($6 / 15 + 0.5)
    } END { exit bad }' "$file") || die "cannot read the window's layout from $file"
  declare -gA control_rect=() control_centre=()
  while read -r name left top width height; do
    [ -n "$name" ] || continue
    control_rect[$name]="$left $top $width $height"
    control_centre[$name]="$((left + width / 2)) $((top + height / 2))"
  done <<<"$rows"
  [ ${#control_rect[@]} -gt 0 ] || die "no controls in $file"
}
