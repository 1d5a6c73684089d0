#!/usr/bin/env python3
"""Soak: many unattended runs of the built program with faults mixed in, and a ledger of pages.

Every run scans the virtual scanner's feeder (10 sheets) into its own folder, or two runs share
one first name at the same time. Faults: SIGTERM, SIGHUP, SIGINT at a random moment, SIGSTOP
and SIGCONT, a target file system that fills up. The program is run with KELVO_LOG_PAGES, so it
says on standard error which pages it took over from the scanner and which it stored. The
ledger counts, for every run:

  delivered   pages the scanner handed over ("Seite übernommen")
  stored      pages whole on disk afterwards (image files; the pages of a PDF)
  named       pages whose failure the program showed (a store error, a missing PDF page)
  reported    the count in the hand-off file

and the faults of the outcome:

  lost silently   delivered - stored - named > 0
  mixed           a stored file that holds another run's picture, or a name two runs claim
  misreported     the hand-off's count or name disagrees with what is on disk
  hang            a run that did not end within the limit (it is killed)

Usage: bench/soak.py [--pages 1000] [--build build] [--work DIR] [--seed N]
Needs root for the full-disk rows (a small tmpfs is mounted); without it they are skipped.
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PICTURES = {"black": "Solid black", "colour": "Color pattern"}
TIME_LIMIT = 90  # seconds a run may take, signals and pauses included


def tool(*args):
    return subprocess.run(args, capture_output=True, text=True)


def is_black(path):
    """Mean brightness of a stored page (from its gray PGM), black when almost nothing is lit."""
    r = subprocess.run(["gm", "convert", path, "-resize", "16x16!", "pgm:-"], capture_output=True)
    if r.returncode != 0:
        return None
    data = r.stdout
    pixels = data[-256:]
    return sum(pixels) / len(pixels) < 40


def pdf_pages(path):
    r = tool("pdfinfo", path)
    m = re.search(r"^Pages:\s+(\d+)", r.stdout, re.M)
    return int(m.group(1)) if m and tool("qpdf", "--check", path).returncode == 0 else 0


class Run:
    def __init__(self, slot, target, fmt, picture, fault):
        self.slot, self.target, self.fmt, self.picture, self.fault = slot, target, fmt, picture, fault
        self.delivered = self.stored_logged = self.named = 0
        self.stored_names = []
        self.handoff = None
        self.hung = False
        self.pdf_failed = False  # the program said the document could not be written
        self.stderr = ""


def prepare(run, build):
    """A copy of the program of the run's own: the hand-off file appears next to it."""
    exe = os.path.join(run.slot, "KelvoBild")
    if not os.path.exists(exe):
        shutil.copy2(os.path.join(build, "KelvoBild"), exe)
        for helper in ("kelvobild-scanner",):
            if os.path.exists(os.path.join(build, helper)):
                shutil.copy2(os.path.join(build, helper), os.path.join(run.slot, helper))


def start(run, build, env_extra):
    exe = os.path.join(run.slot, "KelvoBild")
    handoff = os.path.join(run.slot, "SendToKelvo.TXT")
    if os.path.exists(handoff):
        os.remove(handoff)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update({
        "SANE_CONFIG_DIR": os.path.join(ROOT, "sane"),
        "KELVO_SANE_OPTIONS": "test-picture=" + PICTURES[run.picture],
        "KELVO_LOG_PAGES": "1",
        "KELVO_MODULE_DIR": build,
        "TMP": run.slot,
        "KELVO_SANE_STALL_SECONDS": "20",
    })
    env.update(env_extra)
    args = [exe, "-S", "/X", "/P150"]
    if run.fmt == "PDF":
        args.append("/CPDF")
    args.append(run.target)
    return subprocess.Popen(args, cwd=run.slot, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            text=True, errors="replace")


def disturb(proc, fault, rng):
    """Sends the run's fault at a random moment while it scans."""
    if fault in ("SIGTERM", "SIGHUP", "SIGINT", "SIGSTOP"):
        time.sleep(rng.uniform(0.05, 1.2))
        if proc.poll() is not None:
            return
        if fault == "SIGSTOP":
            proc.send_signal(signal.SIGSTOP)
            time.sleep(rng.uniform(0.2, 2.0))
            proc.send_signal(signal.SIGCONT)
        else:
            proc.send_signal(getattr(signal, fault))


def finish(run, proc):
    try:
        _, err = proc.communicate(timeout=TIME_LIMIT)
    except subprocess.TimeoutExpired:
        run.hung = True
        proc.kill()
        _, err = proc.communicate()
    run.stderr = err
    for line in err.splitlines():
        if line.startswith("KelvoBild: Seite übernommen"):
            run.delivered += 1
        elif line.startswith("KelvoBild: Seite gespeichert: "):
            run.stored_logged += 1
            run.stored_names.append(line.split(": ", 2)[2])
        elif "L_SaveBitmap fehlgeschlagen" in line:
            run.named += 1
        elif "Datei konnte nicht geschrieben werden" in line:
            run.pdf_failed = True
        else:
            m = re.search(r"Seiten? ([\d, ]+) fehl", line)
            if m:
                run.named += len([n for n in re.split(r"[ ,]+", m.group(1)) if n])
    path = os.path.join(run.slot, "SendToKelvo.TXT")
    run.handoff = open(path, "rb").read() if os.path.exists(path) else None


def judge(run, claimed):
    """Adds this run's figures to the ledger; returns (stored, lost, mixed, misreported)."""
    mixed = misreported = 0
    if run.fmt == "PDF":
        stored = pdf_pages(run.target) if os.path.exists(run.target) else 0
        # A PDF holds the pages that were delivered less those it names as missing.
        expected_count = 1 if stored > 0 else 0
        if run.handoff is None:
            misreported += 1
        else:
            m = re.match(rb"(.*)'(\d+)'S$", run.handoff)
            if not m or int(m.group(2)) != expected_count or (stored and m.group(1).decode() != run.target):
                misreported += 1
    else:
        stored = 0
        for name in run.stored_names:
            if name in claimed:
                mixed += 1
            claimed.add(name)
            if os.path.exists(name):
                black = is_black(name)
                if black is None:
                    continue
                stored += 1
                if black != (run.picture == "black"):
                    mixed += 1
        if run.handoff is None:
            misreported += 1
        else:
            m = re.match(rb"(.*)'(\d+)'S$", run.handoff)
            if not m or int(m.group(2)) != run.stored_logged:
                misreported += 1
            elif run.stored_names and m.group(1).decode() != run.stored_names[-1]:
                misreported += 1
    if run.fmt == "PDF" and run.pdf_failed:
        run.named = max(run.named, run.delivered - stored)  # all of them, in one message
    lost = max(0, run.delivered - (run.stored_logged if run.fmt != "PDF" else stored) - run.named)
    return stored, lost, mixed, misreported


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pages", type=int, default=1000)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--work", default=None)
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    rng = random.Random(a.seed)
    work = a.work or tempfile.mkdtemp(prefix="kelvo-soak-")
    small = os.path.join(work, "small")
    os.makedirs(small, exist_ok=True)
    can_fill = os.geteuid() == 0 and tool("mount", "-t", "tmpfs", "-o", "size=3m", "tmpfs", small).returncode == 0
    faults = ["none", "none", "SIGTERM", "SIGHUP", "SIGINT", "SIGSTOP", "pair"] + (["full"] if can_fill else [])
    totals = dict(runs=0, delivered=0, stored=0, named=0, reported=0, lost=0, mixed=0, misreported=0, hangs=0)
    by_fault = {}
    started = time.time()
    n = 0
    try:
        while totals["delivered"] < a.pages:
            n += 1
            fault = rng.choice(faults)
            fmt = rng.choice(["JPG", "JPG", "PDF"]) if fault != "pair" else "JPG"
            folder = os.path.join(work, "run%04d" % n)
            out = small if fault == "full" else os.path.join(folder, "out")
            if fault == "full":
                for f in os.listdir(small):
                    os.remove(os.path.join(small, f))
                # Leave room for a few pages only.
                with open(os.path.join(small, "filler"), "wb") as fh:
                    fh.write(b"\0" * rng.randint(1_500_000, 2_900_000))
            os.makedirs(os.path.join(folder, "a"), exist_ok=True)
            os.makedirs(out, exist_ok=True)
            target = os.path.join(out, ("Bild01." if fmt == "JPG" else "Akte%04d.PDF" % n) + ("JPG" if fmt == "JPG" else ""))
            runs = [Run(os.path.join(folder, "a"), target, fmt, rng.choice(list(PICTURES)), fault)]
            if fault == "pair":
                os.makedirs(os.path.join(folder, "b"), exist_ok=True)
                other = "colour" if runs[0].picture == "black" else "black"
                runs.append(Run(os.path.join(folder, "b"), target, fmt, other, fault))
            for r in runs:
                prepare(r, a.build)  # before any starts: a pair starts at the same moment
            procs = [start(r, a.build, {}) for r in runs]
            disturb(procs[0], fault, rng)
            for r, p in zip(runs, procs):
                finish(r, p)
            claimed = set()  # names stored by the runs of this round
            for r in runs:
                stored, lost, mixed, misreported = judge(r, claimed)
                reported = 0
                if r.handoff:
                    m = re.match(rb".*'(\d+)'S$", r.handoff)
                    reported = int(m.group(1)) if m else 0
                row = by_fault.setdefault(fault, dict(runs=0, delivered=0, stored=0, named=0, reported=0, lost=0, mixed=0, misreported=0, hangs=0))
                for d in (totals, row):
                    d["runs"] += 1
                    d["delivered"] += r.delivered
                    d["stored"] += stored
                    d["named"] += r.named
                    d["reported"] += reported
                    d["lost"] += lost
                    d["mixed"] += mixed
                    d["misreported"] += misreported
                    d["hangs"] += int(r.hung)
                if lost or mixed or misreported or r.hung:
                    print("run %d (%s, %s): delivered %d stored %d named %d hand-off %r lost %d mixed %d misreported %d hung %s"
                          % (n, fault, fmt, r.delivered, stored, r.named, r.handoff, lost, mixed, misreported, r.hung))
                    print("  " + "\n  ".join(l for l in r.stderr.splitlines() if not l.startswith("KelvoBild: Seite"))[:2000])
            if fault != "full":
                shutil.rmtree(folder, ignore_errors=True)
    finally:
        if can_fill:
            tool("umount", small)
    print("\nsoak: %d runs in %.0f s (seed %d)" % (totals["runs"], time.time() - started, a.seed))
    columns = ("runs", "delivered", "stored", "named", "reported", "lost", "mixed", "misreported", "hangs")
    print("%-8s" % "fault" + "".join(" %11s" % c for c in columns))
    for fault, d in sorted(by_fault.items()) + [("all", totals)]:
        print("%-8s" % fault + "".join(" %11d" % d[c] for c in columns))
    print("(PDF runs count each page in the document as stored, and report the document once)")
    bad = d["lost"] + d["mixed"] + d["misreported"] + d["hangs"]
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
