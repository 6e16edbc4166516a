#!/usr/bin/env bash
# Installs a finished build into a scratch prefix, then:
#  1. checks that the shared library exports the public interface and nothing else;
#  2. builds and runs examples/minimal_host with find_package(VXSpeechSDK);
#  3. builds and runs the same host with the flags of pkg-config.
# Arguments: cmake, build dir, host source dir, scratch dir, C++ compiler, nm, pkg-config.
set -euo pipefail

cmake=$1 build=$2 host_source=$3 work=$4 cxx=$5 nm=$6 pkg_config=$7

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

run_logged() {  # log file, command...
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "command failed: $*"; }
}

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"

run_logged "$work/install.log" "$cmake" --install "$build" --prefix "$prefix"
library=$(find "$prefix" -name libvxspeechsdk.so | head -n 1)
[ -n "$library" ] || fail "libvxspeechsdk.so was not installed"
[ -f "$prefix/include/vxs/vxs_sdk_message.h" ] || fail "public headers were not installed"
if grep -rl '#include "\(core\|threads\|audio\|interface\)/' "$prefix/include/vxs" >/dev/null; then
    fail "a public header includes library internals"
fi

echo "== exported symbols"
"$nm" -D --defined-only -C "$library" | sed -E 's/^[0-9a-fA-F]+ [A-Za-z] //' | sort -u >"$work/exports.txt"
[ -s "$work/exports.txt" ] || fail "the library exports nothing"
grep -q '^vxs::VXSSDKMessage::set_parameter' "$work/exports.txt" || fail "VXSSDKMessage is not exported"
outside=$(grep -Ev '^((vtable|typeinfo|typeinfo name|VTT) for )?(vxs|asrdemo)::' "$work/exports.txt" || true)
[ -z "$outside" ] || fail "symbols outside the public namespaces are exported:
$outside"
internal_pattern='Threads::|Memory::|Networking::|PCMQueue|AppMutex|AppLock|AppConditionMutex|paramBase|vxs::param<|vxs::Message[^A-Za-z_]|EventManager|vxs::Context|DispatchQueue|ThreadPool|Timer|recorder::|vx_dnnvad|VXSSDKMessageImpl'
internal=$(grep -E "$internal_pattern" "$work/exports.txt" || true)
[ -z "$internal" ] || fail "library internals are exported:
$internal"
missing=""
for name in $(sed -n -E 's/.*extern const std::string ([A-Za-z_0-9]+);.*/\1/p' "$prefix"/include/vxs/*.h); do
    grep -q "^vxs::$name\(\[abi:cxx11\]\)\?$" "$work/exports.txt" || missing="$missing vxs::$name"
done
[ -z "$missing" ] || fail "declared in the public headers but not exported:$missing"
echo "$(wc -l <"$work/exports.txt") public symbols exported"

echo "== host built with find_package"
run_logged "$work/host-configure.log" "$cmake" -S "$host_source" -B "$work/host" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release
run_logged "$work/host-build.log" "$cmake" --build "$work/host"
"$work/host/minimal_host" >"$work/host-run.log" 2>&1 || { cat "$work/host-run.log" >&2; fail "minimal_host failed"; }
cat "$work/host-run.log"
grep -q "minimal_host: OK" "$work/host-run.log" || fail "minimal_host did not report OK"

echo "== host built with pkg-config"
pc_file=$(find "$prefix" -name vxspeechsdk.pc | head -n 1)
[ -n "$pc_file" ] || fail "vxspeechsdk.pc was not installed"
flags=$(PKG_CONFIG_PATH="$(dirname "$pc_file")" "$pkg_config" --cflags --libs vxspeechsdk) \
    || fail "pkg-config does not know vxspeechsdk"
echo "pkg-config: $flags"
real_prefix=$(realpath "$prefix")
for flag in $flags; do
    case $flag in
        -I* | -L*)
            dir=$(realpath -m "${flag:2}")
            case $dir in "$real_prefix"/*) ;; *) fail "pkg-config points outside the prefix: $flag" ;; esac
            [ -d "$dir" ] || fail "pkg-config names a missing directory: $flag"
            ;;
    esac
done
# shellcheck disable=SC2086  # the flags are meant to split
run_logged "$work/pc-build.log" "$cxx" -std=c++17 "$host_source/minimal_host.cpp" $flags \
    -Wl,-rpath,"$(dirname "$library")" -o "$work/minimal_host_pc"
run_logged "$work/pc-run.log" "$work/minimal_host_pc"
grep -q "minimal_host: OK" "$work/pc-run.log" || fail "the pkg-config host did not report OK"

echo "packaging checks passed"
