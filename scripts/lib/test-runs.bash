# What scripts/test-all, scripts/test-quick and scripts/test-windows share: whether the 32-bit
# Windows tests can run here, the CTest options of a run, and the verdict on a whole run's output.

# The 32-bit Windows tests cannot run where 32-bit Wine is not installed (its i386 packages can
# lag their amd64 halves while a registry syncs, and scripts/install-dependencies then says why),
# nor on a kernel that refuses 32-bit (i386) executables (IA-32 emulation off, as on some virtual
# machines): every one fails with "Exec format error", Wine's 32-bit loader among them. 64-bit
# Wine still runs there.
readonly thirty_two_bit_gap="the 32-bit Windows tests cannot run here"
readonly thirty_two_bit_refused="$thirty_two_bit_gap: this kernel refuses 32-bit executables"
readonly thirty_two_bit_wine_missing="$thirty_two_bit_gap: 32-bit Wine is not installed (wine32:i386)"

# Wine's own 32-bit loader, which Debian's wine launcher picks for 32-bit programs, or the program
# MIRROWEN_32_BIT_PROBE names, so that the checks can be tried on any machine.
thirty_two_bit_probe() {
    echo "${MIRROWEN_32_BIT_PROBE:-/usr/lib/wine/wine}"
}

# Succeeds when the kernel refuses to run the probe. A probe that is missing or fails otherwise
# says nothing about the kernel; Wine then reports what it lacks when the prefix is made.
kernel_refuses_32_bit() {
    local probe errors
    probe=$(thirty_two_bit_probe)
    [[ -f $probe ]] || return 1
    # Run by the shell itself, not through another program (env, timeout): on "Exec format error"
    # those hand the file to /bin/sh as a script instead.
    errors=$(LC_ALL=C "$probe" --version 2>&1 >/dev/null) && return 1
    [[ $errors == *"Exec format error"* ]]
}

# Wine 8.0's own 32-bit wpcap.dll hands the program frames it cannot read: the 32-bit DLL's first
# packet file fails, WriteFile saying "Invalid user buffer" (seen with Debian 12's wine32
# 8.0~repack-4 and libpcap0.8:i386), where the 64-bit one stores every frame. The x86 real-frames
# tests run under any other Wine.
readonly x86_real_frames_gap="the x86 real-frames tests cannot run here"
# Where 32-bit Wine runs, why the x86 real-frames tests still cannot, or nothing.
why_x86_real_frames_cannot_run() {
    local version
    version=$("$(thirty_two_bit_probe)" --version 2>/dev/null || true)
    if [[ $version == wine-8.0* ]]; then
        echo "$x86_real_frames_gap: $version's 32-bit wpcap.dll hands back frames that a program" \
            "cannot read (WriteFile: \"Invalid user buffer\")"
    fi
}

# Why the 32-bit Windows tests cannot run here, or nothing where they can.
why_32_bit_cannot_run() {
    if [[ ! -f $(thirty_two_bit_probe) ]]; then
        echo "$thirty_two_bit_wine_missing"
    elif kernel_refuses_32_bit; then
        echo "$thirty_two_bit_refused"
    fi
}

# CTest's options for a run: every test's output on failure, a bound on each, and tests in
# parallel (those that assert timing are marked to run alone). The live tests mostly wait for
# frames and for the programs they start, so twice as many run as there are processors.
ctest_options=(--output-on-failure --timeout 300 --parallel $(($(nproc) * 2)))

# Judges the output of a whole run (as root, with every package installed): a test that CTest did
# not run fails it, since a skip there can only hide a fault (a missing package, namespaces that
# stopped working). The one accepted gap is the 32-bit Windows tests where they cannot run, the
# x86 real-frames tests among them, which the scripts report instead of running them; each reason
# is said again at the end, so that a passing run does not hide it. The last line counts the tests of every CTest run in the output.
check_run_output() {
    local output=$1
    if grep -q '^The following tests did not run:' "$output"; then
        echo "test-all: tests were skipped (listed above; their reasons are in each build tree's" \
            "Testing/Temporary/LastTest.log); here every test must run" >&2
        return 1
    fi
    awk -v gap="$thirty_two_bit_gap: " -v frames="$x86_real_frames_gap: " '{
            at = index($0, gap); if (!at) at = index($0, frames)
            if (at && !seen[substr($0, at)]++) print "test-all: " substr($0, at) }' "$output"
    # CTest's summaries: "100% tests passed, 0 tests failed out of 97".
    awk '/tests failed out of [0-9]+$/ { runs += 1; tests += $NF }
        END { printf "test-all: %d tests passed in %d CTest run%s, 0 failed\n", tests, runs,
              runs == 1 ? "" : "s" }' "$output"
}
