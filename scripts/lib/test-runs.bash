# What scripts/test-all and scripts/test-windows share, sourced by both: whether this kernel runs
# 32-bit programs, and the verdict on the output of a whole run.

# Some kernels refuse 32-bit (i386) executables (IA-32 emulation off, as on some virtual
# machines): every one fails with "Exec format error", Wine's 32-bit loader among them, and so no
# 32-bit Windows program can run. 64-bit Wine still runs there.
readonly thirty_two_bit_refused="the 32-bit Windows tests cannot run here: this kernel refuses 32-bit executables"

# Succeeds when the kernel refuses to run the probe, a 32-bit program: Wine's own 32-bit loader,
# which Debian's wine launcher picks for 32-bit programs, or the program MIRROWEN_32_BIT_PROBE
# names, so that the check can be tried on any machine with a program every kernel refuses the same
# way. A probe that is missing or fails otherwise says nothing about the kernel; Wine then reports
# what it lacks when the prefix is made.
kernel_refuses_32_bit() {
    local probe=${MIRROWEN_32_BIT_PROBE:-/usr/lib/wine/wine} errors
    [[ -f $probe ]] || return 1
    # Run by the shell itself, not through another program (env, timeout): on "Exec format error"
    # those hand the file to /bin/sh as a script instead.
    errors=$(LC_ALL=C "$probe" --version 2>&1 >/dev/null) && return 1
    [[ $errors == *"Exec format error"* ]]
}

# Judges the output of a whole run (as root, with every package installed): a test that CTest did
# not run fails it, since a skip there can only hide a fault (a missing package, namespaces that
# stopped working). The one accepted gap is the 32-bit Windows tests on a kernel that refuses
# 32-bit executables, which scripts/test-windows reports instead of running them; it is said again
# at the end, so that a passing run does not hide it. The last line counts the tests of every
# CTest run in the output.
check_run_output() {
    local output=$1
    if grep -q '^The following tests did not run:' "$output"; then
        echo "test-all: tests were skipped (listed above; their reasons are in each build tree's" \
            "Testing/Temporary/LastTest.log); here every test must run" >&2
        return 1
    fi
    if grep -qF "$thirty_two_bit_refused" "$output"; then
        echo "test-all: $thirty_two_bit_refused"
    fi
    # CTest's summaries: "100% tests passed, 0 tests failed out of 97".
    awk '/tests failed out of [0-9]+$/ { runs += 1; tests += $NF }
        END { printf "test-all: %d tests passed in %d CTest run%s, 0 failed\n", tests, runs,
              runs == 1 ? "" : "s" }' "$output"
}
