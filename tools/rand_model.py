#!/usr/bin/env python3
"""An independent model of the built-in pool generator (crypto/rand/md_rand.cc
and the poll of rand_unix.cc), with its own SHA-1 written from FIPS 180-4
(no crypto module), for one thread and one process.

It runs the script in a data file of `key = value` records, one step each:
  op = setup    pid, uid, time, clock: what the process reports (clock: the
                monotonic clock in nanoseconds); data: hex bytes of the one
                random device the poll reads (up to 32 of them)
  op = device   data: new device contents
  op = seed     data          op = add   data, entropy
  op = status   ret           op = cleanup
  op = bytes    n, fill (the byte the buffer holds before, never read), ret, out
and writes the expected `ret` and `out` into the file (--check: compares).

    python3 tools/rand_model.py [--check] test/data/rand/pool_model.txt
"""
import struct
import sys

M32 = 0xFFFFFFFF


def _rotl(x, n):
    return ((x << n) | (x >> (32 - n))) & M32


def sha1(data):
    """FIPS 180-4, 6.1.2."""
    h = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0]
    msg = bytes(data) + b"\x80"
    msg += b"\x00" * ((56 - len(msg) % 64) % 64)
    msg += struct.pack(">Q", 8 * len(data))
    for blk in range(0, len(msg), 64):
        w = list(struct.unpack(">16I", msg[blk:blk + 64]))
        for t in range(16, 80):
            w.append(_rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1))
        a, b, c, d, e = h
        for t in range(80):
            if t < 20:
                f, k = (b & c) | (~b & d), 0x5A827999
            elif t < 40:
                f, k = b ^ c ^ d, 0x6ED9EBA1
            elif t < 60:
                f, k = (b & c) | (b & d) | (c & d), 0x8F1BBCDC
            else:
                f, k = b ^ c ^ d, 0xCA62C1D6
            a, b, c, d, e = (_rotl(a, 5) + (f & M32) + e + k + w[t]) & M32, a, _rotl(b, 30), c, d
        h = [(x + y) & M32 for x, y in zip(h, (a, b, c, d, e))]
    return struct.pack(">5I", *h)


assert sha1(b"abc").hex() == "a9993e364706816aba3e25717850c26c9cd0d89d"  # FIPS 180-2, B.1

POOL = 1023


class Generator:
    def __init__(self, pid, uid, now, clock, device):
        self.pid, self.uid, self.now, self.clock, self.device = pid, uid, now, clock, device
        self.state = bytearray(POOL)
        self.stirred = 0
        self.cleanup()

    def cleanup(self):
        self.state[:] = bytes(POOL)
        self.num = self.index = 0
        self.md = bytes(20)
        self.count = [0, 0]
        self.entropy = 0.0
        self.initialized = 0

    def counters(self, c):
        return struct.pack("<2I", c[0] & M32, c[1] & M32)

    def add(self, data, estimate):
        num = len(data)
        if num == 0:
            return
        st, md_c, local = self.index, list(self.count), self.md
        self.index += num
        if self.index >= POOL:
            self.index %= POOL
            self.num = POOL
        elif self.num < POOL and self.index > self.num:
            self.num = self.index
        self.count[1] += num // 20 + (num % 20 > 0)
        for i in range(0, num, 20):
            j = min(20, num - i)
            window = bytes(self.state[(st + k) % POOL] for k in range(j))
            local = sha1(local + window + data[i:i + j] + self.counters(md_c))
            md_c[1] += 1
            for k in range(j):
                self.state[st] ^= local[k]
                st = (st + 1) % POOL
        self.md = bytes(x ^ y for x, y in zip(self.md, local))
        if self.entropy < 32.0:
            self.entropy += estimate

    def poll(self):
        got = self.device[:32]
        if got:
            self.add(got + bytes(32 - len(got)), float(len(got)))
        for v in (self.pid, self.uid, self.now):
            self.add(struct.pack("<i", v), 0.0)
        self.add(struct.pack("<q", self.clock), 0.0)

    def status(self):
        if not self.initialized or self.entropy < 32.0:
            self.poll()
            self.initialized = 1
        return int(self.entropy >= 32.0)

    def bytes(self, n, fill):
        if n <= 0:
            return 1, b""
        ok = self.status()
        if not ok:
            self.entropy = max(0.0, self.entropy - n)
        if not self.stirred:
            for _ in range(0, POOL, 20):
                self.add(b"." * 20, 0.0)
            self.stirred = ok
        self.num = max(self.num, 1)
        st_num = self.num
        st = self.index % st_num
        md_c, local = list(self.count), self.md
        self.index = (st + (1 + (n - 1) // 10) * 10) % st_num
        self.count[0] += 1
        buf = bytearray([fill] * n)
        pos, first = 0, True
        while pos < n:
            j = min(10, n - pos)
            pid = struct.pack("<i", self.pid) if first and self.pid else b""
            first = False
            window = bytes(self.state[(st + k) % st_num] for k in range(10))
            local = sha1(pid + local + self.counters(md_c) + window)
            for i in range(10):
                self.state[st] ^= local[i]
                st = 0 if st + 1 >= st_num else st + 1
                if i < j:
                    buf[pos + i] = local[10 + i]
            pos += j
        self.md = sha1(self.counters(md_c) + local + self.md)
        return ok, bytes(buf)


def run(records):
    gen = None
    for r in records:
        op = r["op"]
        if op == "setup":
            gen = Generator(int(r["pid"]), int(r["uid"]), int(r["time"]), int(r["clock"]),
                            bytes.fromhex(r["data"]))
        elif op == "device":
            gen.device = bytes.fromhex(r["data"])
        elif op == "seed":
            d = bytes.fromhex(r["data"])
            gen.add(d, float(len(d)))
        elif op == "add":
            gen.add(bytes.fromhex(r["data"]), float(r["entropy"]))
        elif op == "status":
            r["ret"] = str(gen.status())
        elif op == "cleanup":
            gen.cleanup()
        elif op == "bytes":
            ok, out = gen.bytes(int(r["n"]), int(r["fill"], 16))
            r["ret"], r["out"] = str(ok), out.hex()
        else:
            raise SystemExit("unknown op " + op)


def read(path):
    head, records, cur = [], [], None
    for line in open(path):
        line = line.rstrip("\n")
        if line.startswith("#") and not records and cur is None:
            head.append(line)
        elif "=" in line:
            k, v = (x.strip() for x in line.split("=", 1))
            if cur is None:
                cur = {}
                records.append(cur)
            cur[k] = v
        elif not line.strip():
            cur = None
    return head, records


def update(argv, fill):
    """Fills the expected values of the record file named in argv with
    fill(records), or with --check compares them instead."""
    check = "--check" in argv
    path = [a for a in argv if a != "--check"][0]
    head, records = read(path)
    before = [dict(r) for r in records]
    fill(records)
    if check:
        if before != records:
            raise SystemExit(path + ": expected values differ from the model")
        return
    with open(path, "w") as f:
        f.write("\n".join(head) + "\n\n")
        f.write("\n\n".join("\n".join(k + " = " + v for k, v in r.items()) for r in records))
        f.write("\n")


if __name__ == "__main__":
    update(sys.argv[1:], run)
