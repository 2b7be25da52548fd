#!/usr/bin/python3
"""llvm-mca estimate of an objective kernel's main loop, per observation.

    python3 bench/kernel_mca.py OBJECT SYMBOL K INNER_TRIPS [CPU ...]

OBJECT is a kernel object as the project's GCC build makes it
(build/CMakeFiles/vimor_objects.dir/src/kernels/objective_avx2.cpp.o; other
compilers lay the loops out differently), SYMBOL a substring of the kernel's
name (objective_avx2). The main loop is the kernel's first loop whose body
adds scalars outside its nested loops: the score's chain, one addition per
observation of the pass. A loop nested in it (the one over coefficients) is
written out INNER_TRIPS times, the number of times it runs per pass for K
regressors, so the region is one pass as executed. CPUs default to znver4
and sapphirerapids.

Prints, per CPU, per observation: llvm-mca's simulated cycles (chain
included; its models give a double addition 3 cycles of latency on both
processors, where Sapphire Rapids takes 2), the block's port-pressure bound
(the pass with the chain's latency left out), and for 512-bit code on
Sapphire Rapids the bound when vector uops have only ports 0 and 5, as while
512-bit uops are in flight, which llvm-mca does not model.
"""
import re
import subprocess
import sys

LLVM_MCA = "llvm-mca-19"
BRANCH = re.compile(r"^(j[a-z]+)\s+([0-9a-f]+)\s*<.*$")


def disassemble(obj, symbol):
    out = subprocess.run(["objdump", "-d", "--no-show-raw-insn", "-C", obj],
                         check=True, capture_output=True, text=True).stdout
    insns, inside = [], False
    for line in out.splitlines():
        if re.match(r"^[0-9a-f]+ <", line):
            inside = symbol in line
            continue
        m = re.match(r"^\s+([0-9a-f]+):\s+(.*)$", line)
        if inside and m:
            insns.append((int(m.group(1), 16), m.group(2).split("#")[0].strip()))
    if not insns:
        sys.exit("no function matching %r in %s" % (symbol, obj))
    return insns


def is_chain_add(text):
    return text.split()[0] in ("addsd", "vaddsd")


def backward_loops(insns):
    """(start index, end index) of every conditional backward branch (a loop)."""
    where = {a: i for i, (a, _) in enumerate(insns)}
    loops = []
    for i, (addr, text) in enumerate(insns):
        m = BRANCH.match(text)
        if m and m.group(1) != "jmp" and int(m.group(2), 16) <= addr and int(m.group(2), 16) in where:
            loops.append((where[int(m.group(2), 16)], i))
    return loops


def pass_region(insns, trips):
    loops = backward_loops(insns)

    def nested_in(outer):
        return [l for l in loops if l != outer and outer[0] <= l[0] and l[1] < outer[1]]

    def chain_adds(outer):
        skip = {i for lo, hi in nested_in(outer) for i in range(lo, hi + 1)}
        return sum(is_chain_add(insns[i][1]) for i in range(outer[0], outer[1] + 1) if i not in skip)

    # The kernel's first loop that adds to the score is its main pass.
    outer = min((l for l in loops if chain_adds(l)), key=lambda l: l[0])
    inner = nested_in(outer)
    body, i, obs = [], outer[0], 0
    while i <= outer[1]:
        nested = [l for l in inner if l[0] == i]
        if nested:
            lo, hi = nested[0]
            for _ in range(trips):
                body += [t for _, t in insns[lo:hi + 1]]
            i = hi + 1
            continue
        body.append(insns[i][1])
        obs += is_chain_add(insns[i][1])
        i += 1
    # llvm-mca ignores control flow; branch targets only need to be labels.
    body = [BRANCH.sub(lambda m: m.group(1) + " .Lpass", t) for t in body]
    return ".Lpass:\n" + "\n".join(body) + "\n", obs


def mca(asm, cpu):
    out = subprocess.run([LLVM_MCA, "-mcpu=" + cpu, "-iterations=300", "-resource-pressure"],
                         input=asm, check=True, capture_output=True, text=True).stdout
    cycles = int(re.search(r"Total Cycles:\s+(\d+)", out).group(1)) / 300
    bound = float(re.search(r"Block RThroughput:\s+([\d.]+)", out).group(1))
    return cycles, bound, out


def ports_015(text, cpu):
    """Pressure of one instruction on ports 0, 1 and 5, run alone: llvm-mca
    spreads it over every port it may use."""
    _, _, report = mca(".Lpass:\n" + text + "\n", cpu)
    lines = report.splitlines()
    at = next(i for i, l in enumerate(lines) if l.startswith("Resource pressure per iteration"))
    names = re.findall(r"\[([\d.]+)\]", lines[at + 1])
    fields = lines[at + 2].split()
    return [0.0 if fields[names.index(p)] == "-" else float(fields[names.index(p)])
            for p in ("0", "1", "5")]


def vector_ports_05(asm, cpu):
    """Cycles per pass when vector uops have only ports 0 and 5, as on
    Sapphire Rapids while 512-bit uops are in flight: their port 0, 1 and 5
    uops shared by two ports, or those that cannot use port 0 (scalar
    additions, shuffles, mask compares) on port 5 alone, whichever is more."""
    total = port5 = 0.0
    seen = {}
    for text in asm.splitlines()[1:]:
        if not re.search(r"%[xyz]mm|%k\d", text):
            continue
        if text not in seen:
            seen[text] = ports_015(text, cpu)
        p0, p1, p5 = seen[text]
        total += p0 + p1 + p5
        if p0 == 0.0:
            port5 += p1 + p5
    return max(total / 2, port5)


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    obj, symbol, k, trips = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    cpus = sys.argv[5:] or ["znver4", "sapphirerapids"]
    asm, obs = pass_region(disassemble(obj, symbol), trips)
    for cpu in cpus:
        cycles, bound, report = mca(asm, cpu)
        line = "%s K=%d %s: %d obs/pass, simulated %.2f cycles/obs, port bound %.2f cycles/obs" % (
            symbol, k, cpu, obs, cycles / obs, bound / obs)
        if cpu == "sapphirerapids" and re.search(r"%zmm", asm):
            line += ", ports 0+5 only %.2f cycles/obs" % (vector_ports_05(asm, cpu) / obs)
        print(line)


if __name__ == "__main__":
    main()
