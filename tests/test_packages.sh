#!/usr/bin/env bash
# The packages as a user gets them: installs build/package/*.deb with apt-get (as root), checks
# the installed files only (not the build tree), purges both packages and checks that nothing of
# theirs is left; then loads the Windows zip's DLLs under Wine straight from the unpacked zip.
#
# Usage: tests/test_packages.sh   (from the repository, after ./dev package and ./dev test's builds)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
pkgdir=$root/build/package
probe=$root/build/default/tests/vst_probe
probe64=$root/build/mingw64/tests/vst_probe.exe
probe32=$root/build/mingw32/tests/vst_probe.exe
reference=$root/tests/data/reference_render.bin
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$pkgdir/CMakeCache.txt")
work=$(mktemp -d /tmp/vurnel-packages.XXXXXX)
passed=0
failed=0

check() { # check NAME COMMAND...: passes when the command exits 0
    local name=$1
    shift
    if "$@" >"$work/out" 2>&1; then
        echo "ok   $name"
        passed=$((passed + 1))
    else
        echo "FAIL $name"
        sed 's/^/     /' "$work/out" | tail -20
        failed=$((failed + 1))
    fi
}

purge() {
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vurnel libvurnel-dev python3-vurnel \
        >/dev/null 2>&1
}
trap 'purge; rm -rf "$work"' EXIT

if [ "$(id -u)" -ne 0 ]; then
    echo "FAIL the package test installs packages and must run as root"
    echo "0 passed, 1 failed"
    exit 1
fi
purge
deb=$pkgdir/vurnel_${version}_amd64.deb
devdeb=$pkgdir/libvurnel-dev_${version}_amd64.deb
pydeb=$pkgdir/python3-vurnel_${version}_amd64.deb
check "apt-get installs vurnel, libvurnel-dev and python3-vurnel $version" \
    env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" "$devdeb" "$pydeb"
dpkg -L vurnel libvurnel-dev python3-vurnel | sort -u >"$work/files"

cd "$work"  # away from the build tree
check "vurnel --version from /usr/bin says $version" \
    sh -c "/usr/bin/vurnel --version | grep -qx 'vurnel $version'"
check "vurnel info finds the installed module by itself" \
    sh -c "env -u VURNEL_PLUGIN /usr/bin/vurnel info | grep -q '^module      /usr/lib/vst/MIRVAK_Vurnel.so' &&
           env -u VURNEL_PLUGIN /usr/bin/vurnel info | grep -q '^unique id   1514885719'"
check "the installed module renders the reference bits" \
    "$probe" /usr/lib/vst/MIRVAK_Vurnel.so --compare "$reference" --exact
mkdir -p "$work/ardour/cache" "$work/ardour/config"
check "Ardour's scanner loads /usr/lib/vst/MIRVAK_Vurnel.so" \
    sh -c "LD_LIBRARY_PATH=/usr/lib/ardour7 XDG_CACHE_HOME=$work/ardour/cache \
           XDG_CONFIG_HOME=$work/ardour/config timeout 60 /usr/lib/ardour7/ardour-vst-scanner \
           -f /usr/lib/vst/MIRVAK_Vurnel.so &&
           grep -l 'id=\"1514885719\"' $work/ardour/cache/ardour7/vst/*.v2i |
           xargs grep -q 'n_inputs=\"2\"'"
check "Ardour's VST 3 scanner loads /usr/lib/vst3/vurnel.vst3" \
    sh -c "LD_LIBRARY_PATH=/usr/lib/ardour7 XDG_CACHE_HOME=$work/ardour/cache \
           XDG_CONFIG_HOME=$work/ardour/config timeout 60 /usr/lib/ardour7/ardour-vst3-scanner \
           -f /usr/lib/vst3/vurnel.vst3 &&
           grep -l 'uid=\"E92586ADA6044FD4BEAC46943C77699E\"' $work/ardour/cache/ardour7/vst/*.v3i |
           xargs grep -q 'n_inputs=\"2\"'"
check "lv2ls finds the plug-in on the system path" \
    sh -c "env -u LV2_PATH lv2ls | grep -qx urn:mirvak:vurnel &&
           env -u LV2_PATH lv2info urn:mirvak:vurnel | grep -q 'Bundle: *file:///usr/lib/lv2/vurnel.lv2/'"
check "the application menu has \"Vurnel tone control\", opening vurnel desktop edit, with its icon" \
    sh -c "grep -qx 'Name=Vurnel tone control' /usr/share/applications/vurnel-tone-control.desktop &&
           grep -qx 'Exec=vurnel desktop edit' /usr/share/applications/vurnel-tone-control.desktop &&
           test -s /usr/share/icons/hicolor/scalable/apps/vurnel.svg"
check "man -w vurnel finds the manual page" \
    sh -c "man -w vurnel | grep -qx /usr/share/man/man1/vurnel.1.gz"
check "the manual page formats without warnings" \
    sh -c "! LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l /usr/share/man/man1/vurnel.1.gz 2>&1 >/dev/null | grep ."

check "Debian's python3 imports vurnel from the package and filters" \
    sh -c "env -u PYTHONPATH /usr/bin/python3 -c '
import numpy as np, vurnel
assert vurnel.__file__.startswith(\"/usr/lib/python3/dist-packages/vurnel/\"), vurnel.__file__
f = vurnel.design(\"elliptic\", \"bandpass\", 4, 1000, 2000, fs=48000, ripple=0.5, attenuation=60)
x = np.sin(2 * np.pi * 1414 * np.arange(48000) / 48000).astype(np.float32)
y = f.sosfilt(x)
assert y.dtype == np.float32 and 0.9 < np.abs(y[-4800:]).max() < 1.1 and f.stable
'"

# A consumer project outside the tree, against the installed CMake package.
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.23)
project(consumer CXX)
find_package(vurnel 1.0 REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE vurnel::dsp)
CMAKE
cat >"$work/consumer/main.cpp" <<'CPP'
#include <vurnel/dspIIRFilters.h>

#include <cstdio>

int main() {
    vurnel::dsp::TdspIIRFilter f;
    f.SetKind(vurnel::dsp::fkChebyshev);
    f.SetRipple(0.5L);
    f.SetOrder(4);
    f.SetFrequency(1, 1000.0L);
    std::printf("gain factor %.21Lg\n", f.GetGainFactor());
    std::printf("yc[0] %.21Lg\n", f.GetYCoeffs()[0]);
    return 0;
}
CPP
check "a consumer project configures and builds against the installed package" \
    sh -c "cmake -S $work/consumer -B $work/consumer/build >/dev/null &&
           cmake --build $work/consumer/build"
"$work/consumer/build/consumer" >"$work/consumer.txt" 2>&1
echo "     consumer printed: $(tr '\n' ';' <"$work/consumer.txt")"
design=$(/usr/bin/vurnel design --kind chebyshev --ripple 0.5 --order 4 --f1 1000)
check "the consumer's gain factor and coefficient are what vurnel design prints" \
    sh -c "grep -q \"gain factor g = \$(sed -n 's/^gain factor //p' $work/consumer.txt)\$\" <<'EOF2'
$design
EOF2
grep -qE \"^ +0 +1 +\$(sed -n 's/^yc\\[0\\] //p' $work/consumer.txt)\$\" <<'EOF2'
$design
EOF2"

purge
left=$(while read -r f; do [ -f "$f" ] && echo "$f"; done <"$work/files")
for d in /usr/include/vurnel /usr/lib/cmake/vurnel /usr/lib/lv2/vurnel.lv2 /usr/lib/vst3/vurnel.vst3 \
    /usr/share/doc/vurnel /usr/share/doc/libvurnel-dev /usr/lib/python3/dist-packages/vurnel \
    /usr/share/doc/python3-vurnel; do
    [ -e "$d" ] && left="$left $d"
done
check "apt-get purge leaves none of the packages' files behind" test -z "$left"
[ -n "$left" ] && echo "     left: $left"

# The Windows DLLs straight from the unpacked zip.
zip=$pkgdir/vurnel-$version-windows.zip
mkdir -p "$work/zip"
check "the Windows zip unpacks to win32, win64, README and licence" \
    sh -c "cd $work/zip && cmake -E tar xf $zip &&
           test -f vurnel-$version-windows/win32/MIRVAK_Vurnel.dll &&
           test -f vurnel-$version-windows/win64/MIRVAK_Vurnel.dll &&
           test -f vurnel-$version-windows/vurnel.vst3/Contents/x86_64-win/vurnel.vst3 &&
           test -f vurnel-$version-windows/README.txt &&
           grep -q 'MIT License' vurnel-$version-windows/LICENSE.txt"
export WINEDEBUG=-all
check "the zip's 64-bit DLL loads under Wine and renders the Linux bits" \
    timeout 300 /usr/lib/wine/wine64 "$probe64" \
    "$work/zip/vurnel-$version-windows/win64/MIRVAK_Vurnel.dll" --compare "$reference" --exact
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    check "the zip's 32-bit DLL loads under Wine and renders the Linux bits" \
        timeout 300 wine "$probe32" \
        "$work/zip/vurnel-$version-windows/win32/MIRVAK_Vurnel.dll" --compare "$reference" --exact
else
    echo "skip the zip's 32-bit DLL: this kernel cannot run 32-bit x86 programs"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
