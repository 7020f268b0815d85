"""Peak memory and time of one "load" of a very large command text, optionally
under an address-space cap (then the load either works or raises MemoryError).

    python3 bench/bench_huge_text.py 1024              # a 1 GiB text, no cap
    python3 bench/bench_huge_text.py 1024 --cap-gib 8  # the same under an 8 GiB cap

The text is a trades-only dataset of identical 18-byte records; the report
gives the text size, the outcome, the seconds the command took and the peak
resident size of the process before and after it."""

import argparse
import os
import resource
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "python"))

import tavrin_ovra  # noqa: E402

RECORD = '[1,1.5,2.5,"buy"],'


def peak_rss_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mib", type=int, help="size of the command text in MiB")
    parser.add_argument("--cap-gib", type=float, default=0.0, help="address-space cap above current use")
    args = parser.parse_args()
    records = args.mib * (1 << 20) // len(RECORD)
    text = '{"cmd":"load","dataset":{"trades":[' + (RECORD * records)[:-1] + "]}}"
    handle = tavrin_ovra.Ovra("")
    before = peak_rss_mib()
    if args.cap_gib:
        with open("/proc/self/status") as status:
            vm_kib = next(int(line.split()[1]) for line in status if line.startswith("VmSize:"))
        cap = vm_kib * 1024 + int(args.cap_gib * (1 << 30))
        resource.setrlimit(resource.RLIMIT_AS, (cap, resource.RLIM_INFINITY))
    start = time.perf_counter()
    try:
        outcome = handle.command(text)
    except MemoryError:
        outcome = "MemoryError"
    seconds = time.perf_counter() - start
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    bounds = handle.command('{"cmd":"bounds"}')
    print(f"text {len(text) / (1 << 20):.0f} MiB, {records} records, cap {args.cap_gib or 'none'} GiB: "
          f"{outcome[:60]} in {seconds:.2f} s; peak RSS {before:.0f} -> {peak_rss_mib():.0f} MiB; "
          f"bounds after: {bounds}")


if __name__ == "__main__":
    main()
