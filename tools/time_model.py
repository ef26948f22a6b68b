#!/usr/bin/env python3
"""An independent model of UTCTime and GeneralizedTime texts, written from
X.680 (sections 46 and 47) and RFC 5280 (4.1.2.5) with plain integers, and
the random texts that test/x509/vfy_time_test.cc compares against it.

The forms: UTCTime YYMMDDhhmm[ss] (YY 50-99 is 19YY, 00-49 20YY);
GeneralizedTime YYYYMMDDhhmm[ss[.f...]] (fractions only after seconds);
either followed by 'Z', by an offset +hhmm or -hhmm (local time is UTC +
offset; hours 00-12, minutes 00-59) or by nothing (no zone: a text, but no
moment; seconds are then needed).  Month 01-12, day 01 to the days of its month in the Gregorian
calendar (leap years: divisible by 4, except centuries not divisible by
400), hour 00-23, minute and second 00-59.

The day count is the Gregorian calendar counted out: 365 days a year plus
one for each leap year before it, and the days of the months before.  A
moment is whole seconds since 1970-01-01T00:00:00Z and whether its
fraction is above zero.

It writes (or with --check compares) the [MOMENT] section of
test/data/x509/times.txt: texts drawn from a fixed seed, about a third of
them with one field spoiled, each with the model's verdict.  With
--cross-check it also compares every moment of a year from 1 on with
Python's datetime (as a check of the model only; the file holds the
model's values).

    python3 tools/time_model.py [--check] [--cross-check] test/data/x509/times.txt
"""
import random
import sys

MONTH_DAYS = [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]


def leap(year):
    return year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)


def month_days(year, month):
    return 29 if month == 2 and leap(year) else MONTH_DAYS[month - 1]


def days_before_year(year):
    """Days from 0000-01-01 to the first day of `year` (year >= 0): year 0 is
    a leap year, so the leap years before `year` are 0, 4, 8, ... less the
    centuries not divisible by 400."""
    leaps = (year + 3) // 4 - (year + 99) // 100 + (year + 399) // 400
    return 365 * year + leaps


EPOCH_DAYS = days_before_year(1970)


def day_number(year, month, day):
    """Days from 1970-01-01 to the date."""
    d = days_before_year(year) - EPOCH_DAYS
    for m in range(1, month):
        d += month_days(year, m)
    return d + day - 1


def read(utc, text):
    """The model's reading of a time text: (well-formed, seconds since the
    epoch or None when it names no moment, fraction above zero)."""
    pos = 0

    def two():
        nonlocal pos
        pair = text[pos:pos + 2]
        if len(pair) != 2 or not pair.isdigit() or not pair.isascii():
            return None
        pos += 2
        return int(pair)

    bad = (False, None, False)
    fields = []
    for name in (["year"] if utc else ["century", "year"]) + ["month", "day", "hour", "minute"]:
        v = two()
        if v is None:
            return bad
        fields.append(v)
    if utc:
        yy = fields[0]
        year = 1900 + yy if yy >= 50 else 2000 + yy
        month, day, hour, minute = fields[1:]
    else:
        year = fields[0] * 100 + fields[1]
        month, day, hour, minute = fields[2:]
    second = None
    if pos < len(text) and text[pos] not in "Z+-":
        second = two()
        if second is None:
            return bad
    fraction = False
    if not utc and second is not None and pos < len(text) and text[pos] == ".":
        pos += 1
        start = pos
        while pos < len(text) and text[pos] in "0123456789":
            pos += 1
        if pos == start:
            return bad
        fraction = any(c != "0" for c in text[start:pos])
    if not (1 <= month <= 12 and 1 <= day <= month_days(year, month) and hour <= 23
            and minute <= 59 and (second or 0) <= 59):
        return bad
    offset = 0
    if pos == len(text):
        # Without a zone the seconds are needed (the shortest texts are
        # 11 and 13 characters).
        return (second is not None, None, fraction)
    second = second or 0
    if text[pos] == "Z":
        if pos + 1 != len(text):
            return bad
    elif text[pos] in "+-":
        sign = -1 if text[pos] == "-" else 1
        pos += 1
        hh = two()
        mm = two()
        if hh is None or mm is None or pos != len(text) or hh > 12 or mm > 59:
            return bad
        offset = sign * (hh * 60 + mm)
    else:
        return bad
    seconds = day_number(year, month, day) * 86400 + hour * 3600 + minute * 60 + second
    return (True, seconds - offset * 60, fraction)


def draw(rng):
    """One random text: (type, text)."""
    utc = rng.random() < 0.5
    if utc:
        year = rng.choice([1950, 1969, 1970, 1999, 2000, 2049, rng.randint(1950, 2049)])
    else:
        year = rng.choice([0, 1, 1600, 1900, 1969, 1970, 2000, 2100, 9999,
                           rng.randint(0, 9999), rng.randint(1900, 2100)])
    month = rng.randint(1, 12)
    day = rng.randint(1, month_days(year, month))
    if rng.random() < 0.15:  # month ends, leap days
        month = rng.choice([2, month])
        day = month_days(year, month)
    hour, minute, second = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
    with_seconds = rng.random() < 0.9
    fraction = ""
    if not utc and with_seconds and rng.random() < 0.4:
        n = rng.randint(1, 6)
        kind = rng.random()
        if kind < 0.2:
            fraction = "0" * n
        elif kind < 0.4:
            fraction = "".join(rng.choice("0123456789") for _ in range(n)) + "000"
        elif kind < 0.5:
            fraction = "0" * (n - 1) + "1"
        else:
            fraction = "".join(rng.choice("0123456789") for _ in range(n))
    z = rng.random()
    if z < 0.6:
        zone = "Z"
    elif z < 0.95:
        zone = "%s%02d%02d" % (rng.choice("+-"), rng.randint(0, 12), rng.randint(0, 59))
    else:
        zone = ""
    parts = {
        "year": ("%02d" % (year % 100)) if utc else ("%04d" % year),
        "month": "%02d" % month,
        "day": "%02d" % day,
        "hour": "%02d" % hour,
        "minute": "%02d" % minute,
        "second": ("%02d" % second) if with_seconds else "",
        "fraction": ("." + fraction) if fraction else "",
        "zone": zone,
    }
    if rng.random() < 0.35:  # spoil one field
        spoil = rng.choice(["month", "day", "leap", "hour", "minute", "second", "offset-hour",
                            "offset-minute", "after", "utc-fraction", "empty-fraction",
                            "letter", "short-offset"])
        if spoil == "month":
            parts["month"] = rng.choice(["00", "13", "99"])
        elif spoil == "day":
            parts["day"] = rng.choice(["00", "32", "%02d" % (month_days(year, month) + 1)])
        elif spoil == "leap":
            parts["month"], parts["day"] = "02", rng.choice(["29", "30", "31"])
        elif spoil == "hour":
            parts["hour"] = rng.choice(["24", "25", "99"])
        elif spoil == "minute":
            parts["minute"] = rng.choice(["60", "99"])
        elif spoil == "second":
            parts["second"] = rng.choice(["60", "61", "99"])
        elif spoil == "offset-hour":
            parts["zone"] = "%s%02d00" % (rng.choice("+-"), rng.choice([13, 14, 24, 99]))
        elif spoil == "offset-minute":
            parts["zone"] = "%s01%02d" % (rng.choice("+-"), rng.choice([60, 99]))
        elif spoil == "after":
            parts["zone"] = (parts["zone"] or "Z") + rng.choice(["x", "0", "Z", "-"])
        elif spoil == "utc-fraction":
            parts["second"] = parts["second"] or "00"
            parts["fraction"] = ".5"
        elif spoil == "empty-fraction":
            parts["second"] = parts["second"] or "00"
            parts["fraction"] = "."
        elif spoil == "letter":
            parts["hour"] = parts["hour"][0] + "a"
        else:
            parts["zone"] = rng.choice(["+", "-01", "+011", "Z+0100"])
    order = ["year", "month", "day", "hour", "minute", "second", "fraction", "zone"]
    return (23 if utc else 24), "".join(parts[k] for k in order)


def rows(count=1200, seed=0x54494D45):
    rng = random.Random(seed)
    out = []
    for i in range(count):
        t, text = draw(rng)
        ok, seconds, fraction = read(t == 23, text)
        out.append("t%04d = %d | %s | %d | %s | %d" % (
            i, t, text, 1 if ok else 0, "-" if seconds is None else str(seconds),
            1 if fraction and seconds is not None else 0))
    return out


def cross_check(lines):
    import datetime
    checked = 0
    for line in lines:
        label, rest = line.split(" = ")
        t, text, ok, seconds, _ = [f.strip() for f in rest.split("|")]
        if seconds == "-":
            continue
        utc = t == "23"
        digits = text if not utc else ("19" if int(text[:2]) >= 50 else "20") + text
        year, month, day = int(digits[0:4]), int(digits[4:6]), int(digits[6:8])
        if year < 1:
            continue
        hour, minute = int(digits[8:10]), int(digits[10:12])
        second = int(digits[12:14]) if digits[12:14].isdigit() else 0
        zone_at = max(digits.find("Z"), digits.find("+"), digits.find("-"))
        offset = 0
        if digits[zone_at] != "Z":
            offset = int(digits[zone_at + 1:zone_at + 3]) * 60 + int(digits[zone_at + 3:zone_at + 5])
            if digits[zone_at] == "-":
                offset = -offset
        tz = datetime.timezone(datetime.timedelta(minutes=offset))
        when = datetime.datetime(year, month, day, hour, minute, second, tzinfo=tz)
        epoch = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
        delta = when - epoch
        whole = delta.days * 86400 + delta.seconds
        if whole != int(seconds):
            sys.exit("cross-check: %s gives %d, datetime %d" % (text, int(seconds), whole))
        checked += 1
    print("cross-check: %d moments agree with datetime" % checked, file=sys.stderr)


def main():
    args = sys.argv[1:]
    check = "--check" in args
    cross = "--cross-check" in args
    paths = [a for a in args if not a.startswith("--")]
    if len(paths) != 1:
        sys.exit(__doc__)
    # The model's own examples: RFC 5280's boundary years and the POSIX
    # epoch (Base Definitions, 4.16: 946684799 is 1999-12-31T23:59:59Z).
    assert read(True, "991231235959Z") == (True, 946684799, False)
    assert read(False, "19700101000000Z") == (True, 0, False)
    assert read(True, "700101013000+0130") == (True, 0, False)
    assert read(False, "20000229000000Z")[0] and not read(False, "19000229000000Z")[0]
    assert read(False, "99991231235959Z") == (True, 253402300799, False)
    assert read(False, "00000101000000Z") == (True, -62167219200, False)
    lines = rows()
    if cross:
        cross_check(lines)
    path = paths[0]
    text = open(path).read()
    head, sep, _ = text.partition("[MOMENT]\n")
    if not sep:
        sys.exit("%s: no [MOMENT] section" % path)
    body = ("# label = type | text | 1 well-formed, 0 not | seconds since the epoch, - for\n"
            "# no moment (malformed or without a zone) | 1 when the fraction is above zero\n")
    new = head + sep + body + "\n".join(lines) + "\n"
    if check:
        if new != text:
            sys.exit("%s differs from the model" % path)
        return
    with open(path, "w") as f:
        f.write(new)


if __name__ == "__main__":
    main()
