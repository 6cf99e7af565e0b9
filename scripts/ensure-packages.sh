# Sourced by the other scripts: installs Debian packages that are missing.
# Runs apt-get as root without a terminal; `apt-get update` at most once.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  if [ -z "${VEXA_APT_UPDATED:-}" ]; then
    "${sudo[@]}" apt-get update -q
    export VEXA_APT_UPDATED=1
  fi
  # Recommended packages are left out: Wine's alone are some 80 (codecs,
  # graphics drivers) that nothing here uses.
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What every native build needs.
VEXA_BUILD_PACKAGES=(g++ cmake ninja-build googletest libgtest-dev libcli11-dev)
# The C# binding's tests and the Mono embedding host (a C program built
# against the Mono runtime).
VEXA_MONO_PACKAGES=(mono-mcs mono-runtime libmono-2.0-dev pkg-config gcc)
