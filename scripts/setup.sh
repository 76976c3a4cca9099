# Shared set-up of scripts/demo and scripts/test; sourced, not run.
# Installs whichever of the Debian packages the build needs are missing (one apt-get update, and
# only when something is missing), then configures the build in build/.

QUORVANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QUORVANE_BUILD="${QUORVANE_BUILD:-$QUORVANE_ROOT/build}"

# Build and test dependencies; libproj-dev only serves the peer checks of the projection and the
# record's pipeline, nlohmann-json3-dev reads the record back in the tests, libxml2-dev reads the
# --plot picture back, librsvg2-bin renders it and libpng-dev reads the rendering,
# libgfortran-12-dev gives the static Fortran runtime that the static LAPACK needs,
# libboost-dev the header-only Boost.Math, and python3-jsonschema checks the distortion file
# against PROJ's triangulation schema.
QUORVANE_PACKAGES=(cmake make g++ libceres-dev libeigen3-dev rapidjson-dev libgoogle-glog-dev
  libgfortran-12-dev libboost-dev libgtest-dev libproj-dev proj-data proj-bin nlohmann-json3-dev
  libxml2-dev librsvg2-bin libpng-dev python3-jsonschema)

quorvane_install_missing() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures $QUORVANE_BUILD as a Release build; later arguments override earlier ones.
quorvane_configure() {
  cmake -S "$QUORVANE_ROOT" -B "$QUORVANE_BUILD" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

quorvane_jobs() { nproc 2>/dev/null || echo 2; }
