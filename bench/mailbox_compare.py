#!/usr/bin/env python3
"""Side by side: our mailbox backend and Python's mailbox + email doing the same work on
the same generated mbox (open it, then read Subject, Body, ReceivedTime and the attachment
names of every mail).

    python3 bench/mailbox_compare.py BUILD_DIR/bench/mailbox_bench [10000 100000]
"""
import email
import email.policy
import email.utils
import mailbox
import os
import resource
import subprocess
import sys
import tempfile
import time


def python_pass(path):
    policy = email.policy.default
    box = mailbox.mbox(path, factory=lambda f: email.message_from_binary_file(f, policy=policy), create=False)
    n = 0
    checksum = 0
    for msg in box:
        subject = str(msg.get("subject", ""))
        part = msg.get_body(preferencelist=("plain", "html"))
        body = part.get_content() if part is not None else ""
        received = 0.0
        for value in msg.get_all("received", []):
            when = value.rsplit(";", 1)[-1] if ";" in value else ""
            try:
                received = email.utils.parsedate_to_datetime(when.strip()).timestamp()
                break
            except (TypeError, ValueError):
                continue
        names = [a.get_filename() or "" for a in msg.iter_attachments()]
        checksum += len(subject) + len(body) + int(received > 0) + sum(map(len, names))
        n += 1
    box.close()
    return n, checksum


def main():
    bench = sys.argv[1]
    sizes = [int(a) for a in sys.argv[2:]] or [10000, 100000]
    # CPU seconds (user + system) are compared as well as wall time: on a shared, busy machine
    # the wall clock mostly measures the neighbours.
    print(f"{'mails':>8} | {'ours wall s':>11} {'cpu s':>7} {'cpu us/mail':>12} {'peak MB':>8} | "
          f"{'python wall s':>13} {'cpu s':>7} {'cpu us/mail':>12} | {'cpu speed-up':>12}")
    with tempfile.TemporaryDirectory() as tmp:
        for n in sizes:
            path = os.path.join(tmp, f"bench-{n}.mbox")
            subprocess.run([bench, f"--write-mbox={path}", f"--mails={n}"], check=True)
            r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
            out = subprocess.run([bench, f"--read-mbox={path}"], check=True, capture_output=True, text=True).stdout
            r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
            ours_cpu = (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)
            # ru_maxrss of children is the largest child so far; the writer runs first and is small.
            peak_mb = r1.ru_maxrss / 1024.0
            fields = dict(kv.split("=") for kv in out.split())
            ours = float(fields["seconds"])
            assert int(fields["mails"]) == n, out
            start, cpu0 = time.perf_counter(), time.process_time()
            count, _ = python_pass(path)
            py, py_cpu = time.perf_counter() - start, time.process_time() - cpu0
            assert count == n, count
            print(f"{n:>8} | {ours:>11.2f} {ours_cpu:>7.2f} {ours_cpu / n * 1e6:>12.1f} {peak_mb:>8.0f} | "
                  f"{py:>13.2f} {py_cpu:>7.2f} {py_cpu / n * 1e6:>12.1f} | {py_cpu / ours_cpu:>11.1f}x", flush=True)
            os.remove(path)


if __name__ == "__main__":
    main()
