# Sourced by the other scripts: installs the Debian packages a step needs when they are missing.
# As root it uses apt-get; otherwise it names what is missing and stops. The names are Debian 12's
# (bookworm): libclang-rt-14-dev, for one, goes with its clang 14.

# ensure_packages PACKAGE...: every named package is installed when this returns.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (install them, or run this as root)" >&2
    exit 1
  fi
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    ENSURE_PACKAGES_UPDATED=
  fi
  if [ -z "${ENSURE_PACKAGES_UPDATED:-}" ]; then
    # A mirror being synced can fail one index for a while; the lists that did arrive may still
    # hold every package needed, so the install below decides.
    local try
    for try in 1 2 3; do
      apt-get update -qq && break
      echo "apt-get update failed (try $try of 3)" >&2
      sleep 10
    done
    ENSURE_PACKAGES_UPDATED=1
  fi
  echo "installing: ${missing[*]}" >&2
  apt_install "${missing[@]}"
}

# apt_install PACKAGE...: installs the packages, or stops with apt's message and their names.
# A mirror caught mid-sync can offer a library from the security suite for one architecture and
# only from the release for the other; packages that must match across architectures (wine32's
# i386 libraries) then cannot be resolved. Preferring the machine's own release resolves them.
apt_install() {
  local log release
  log=$(mktemp)
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >"$log" 2>&1; then
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    echo "apt-get install failed; trying once more, preferring the packages of ${release:-?}" >&2
    if [ -z "$release" ] ||
       ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t "$release" "$@" >"$log" 2>&1; then
      cat "$log" >&2
      rm -f "$log"
      echo "could not install: $*" >&2
      exit 1
    fi
  fi
  rm -f "$log"
}

# ensure_locale NAME: the locale (for example ja_JP.UTF-8) is generated.
ensure_locale() {
  local wanted=$1
  local listed
  listed=$(echo "$wanted" | sed 's/UTF-8$/utf8/')
  locale -a 2>/dev/null | grep -qx "$listed" && return 0
  ensure_packages locales
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing locale: $wanted (generate it, or run this as root)" >&2
    exit 1
  fi
  sed -i "s/^# *\($wanted .*\)/\1/" /etc/locale.gen
  grep -q "^$wanted " /etc/locale.gen || echo "$wanted UTF-8" >> /etc/locale.gen
  locale-gen >/dev/null
}

# The packages that build the Linux installer and run its tests.
LINUX_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev strace diffutils bindfs)

# The packages that build and run the profile engine's fuzz target.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# The packages that cross-build the Windows installer and run it under Wine.
WINDOWS_BUILD_PACKAGES=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 icoutils python3)

# The packages that build the Windows programs for x86-64 and run them under wine64: what the
# Windows tests take on a kernel that runs no 32-bit programs.
WINDOWS_64_TEST_PACKAGES=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64)

# The packages that pack the release zip and check that it is reproducible.
RELEASE_PACKAGES=(git zip unzip)
