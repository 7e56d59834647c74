# Sourced by the scripts: makes sure the Debian packages a step needs are installed.
# As root, missing packages are installed with apt-get; otherwise the script says
# what to install and stops.

cx_need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "Missing packages (Debian names): ${missing[*]}. Install their equivalents and run again." >&2
    return 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}   (or run this script as root)" >&2
    return 1
  fi
  echo "== installing: ${missing[*]}"
  if [ -z "${CX_APT_UPDATED:-}" ]; then
    apt-get update -qq || true
    CX_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# Packages for building and testing natively on Linux.
CX_NATIVE_PACKAGES=(cmake ninja-build g++ make zlib1g-dev googletest file python3
  zip unzip p7zip-full libarchive-tools curl osslsigncode openssl nodejs chromium ffmpeg
  libstb-dev python3-sphinx doxygen)
# Packages for the libFuzzer targets.
CX_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Packages for the Windows builds and running them under Wine.
CX_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine64 xvfb xauth)

# 32-bit Wine needs Debian's i386 architecture. Tried as root; where it cannot be had
# the 32-bit Windows tests are skipped with a notice.
cx_wine32_runs() {
  [ -x /usr/lib/wine/wine ] && timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1
}
cx_try_wine32() {
  cx_wine32_runs && return 0
  # Installed but not runnable: a kernel without 32-bit program support.
  [ -x /usr/lib/wine/wine ] && return 1
  [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1 || return 1
  echo "== installing 32-bit Wine (wine32:i386)"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || return 1
    CX_APT_UPDATED=
  fi
  if [ -z "${CX_APT_UPDATED:-}" ]; then
    timeout 600 apt-get update -qq || true
    CX_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive timeout 900 apt-get install -y -qq --no-install-recommends \
    wine32:i386 >/dev/null 2>&1 || echo "   (wine32:i386 could not be installed)"
  cx_wine32_runs
}
