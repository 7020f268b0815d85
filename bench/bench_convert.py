"""Speed and peak memory of `convert tardis` on a generated incremental_book_L2 file.

    python3 bench/bench_convert.py --rows 10000000 --folder /tmp/convert-bench

Writes a gzip CSV at the density of the recorded Binance ETHUSDT feed (about 40 level
changes a message, prices on a 0.01 tick around 3,425, one snapshot of 1,000 + 1,000
levels first), converts it in a child process and prints rows a second, the child's peak
resident memory and processor time, and the machine's load average (a shared machine's
other work shows in the wall time, not in the processor time). A whole day at real density
is about 10^8 rows.
"""

import argparse
import gzip
import os
import resource
import subprocess
import sys
import time

import polars as pl

HERE = os.path.dirname(os.path.abspath(__file__))


def generate(path: str, rows: int, seed: int = 7) -> None:
    block = 1_000_000
    with gzip.open(path, "wb", compresslevel=1) as out:
        out.write(b"exchange,symbol,timestamp,local_timestamp,is_snapshot,side,price,amount\n")
        start = 1721347200000000
        snapshot = pl.DataFrame({
            "side": ["bid"] * 1000 + ["ask"] * 1000,
            "price": [3425.0 - 0.01 * i for i in range(1000)] + [3425.01 + 0.01 * i for i in range(1000)],
        }).with_columns(pl.lit("binance-futures").alias("exchange"), pl.lit("ETHUSDT").alias("symbol"),
                        pl.lit(start).alias("timestamp"), pl.lit(start + 4000).alias("local_timestamp"),
                        pl.lit("true").alias("is_snapshot"), pl.lit(1.5).alias("amount"))
        columns = ["exchange", "symbol", "timestamp", "local_timestamp", "is_snapshot", "side", "price", "amount"]
        out.write(snapshot.select(columns).write_csv(include_header=False).encode())
        for number in range(0, rows, block):
            n = min(block, rows - number)
            index = pl.int_range(number, number + n, eager=True)
            frame = pl.DataFrame({"i": index}).with_columns(
                # one message every 40 rows, 864 ms of a day's 86,400 s per 10^6 rows
                (start + 10_000 + (pl.col("i") // 40) * 34_560).alias("local_timestamp"),
                pl.col("i").hash(seed).alias("h"))
            frame = frame.with_columns(
                pl.lit("binance-futures").alias("exchange"), pl.lit("ETHUSDT").alias("symbol"),
                (pl.col("local_timestamp") - 1_270).alias("timestamp"), pl.lit("false").alias("is_snapshot"),
                pl.when(pl.col("h") % 2 == 0).then(pl.lit("bid")).otherwise(pl.lit("ask")).alias("side"),
                ((340_000 + (pl.col("h") // 2) % 5_000) / 100).alias("price"),
                (((pl.col("h") // 10_000) % 300_000) / 1000).alias("amount"))
            out.write(frame.select(columns).write_csv(include_header=False, float_precision=None).encode())


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=10_000_000)
    parser.add_argument("--folder", default="/tmp/convert-bench")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    source = os.path.join(args.folder, f"book_{args.rows}.csv.gz")
    if not os.path.exists(source):
        began = time.perf_counter()
        generate(source, args.rows)
        print(f"generated {source} ({os.path.getsize(source) / 2**20:.0f} MiB) in "
              f"{time.perf_counter() - began:.1f} s")
    output = os.path.join(args.folder, "book.json")
    env = dict(os.environ, PYTHONPATH=os.path.join(HERE, os.pardir, "python"))
    load_before = f"{os.getloadavg()[0]:.1f}"
    began = time.perf_counter()
    subprocess.run([sys.executable, "-m", "tavrin_ovra", "convert", "tardis", source, "-o", output],
                   check=True, env=env)
    seconds = time.perf_counter() - began
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    peak = usage.ru_maxrss / 1024
    print(f"{args.rows:,} rows in {seconds:.1f} s: {args.rows / seconds:,.0f} rows/s, "
          f"peak memory {peak:.0f} MiB, output {os.path.getsize(output) / 2**20:.0f} MiB; "
          f"10^8 rows at this rate: {1e8 / (args.rows / seconds):.0f} s")
    print(f"processor time {usage.ru_utime + usage.ru_stime:.1f} s (user {usage.ru_utime:.1f}, "
          f"system {usage.ru_stime:.1f}); load average before and after: {load_before} / "
          f"{os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
