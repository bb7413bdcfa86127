# Installs the Debian packages the build needs, when they are missing (sourced by the scripts).
corvello_packages=(g++ cmake ninja-build ccache pkg-config libgtest-dev zstd qt6-base-dev fonts-dejavu-core zlib1g-dev libbz2-dev liblzma-dev libewf-dev libbfio-dev libvmdk-dev libvhdi-dev libqcow-dev libfuse3-dev fuse3 libcryptsetup-dev libssl-dev python3 sleuthkit)
# What building and checking the Debian package needs (scripts/package, scripts/test): dpkg-shlibdeps,
# lintian, and the validators of the desktop entry, the AppStream metainfo and the polkit action.
corvello_package_tools=(dpkg-dev lintian desktop-file-utils appstream libxml2-utils)

ensure_packages() {
  local missing=() p
  for p in "${corvello_packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=
  [ "$(id -u)" = 0 ] || sudo=sudo
  echo "Installing ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
