#!/usr/bin/env python3
"""Writes a synthetic calendar store for the benchmark.

The store has the vdir layout that vdirsyncer and khal use: three calendar
folders of one-event *.ics files, plus an `addresses` file with the user's own
addresses. It is written to DIR/calendars, so that XDG_DATA_HOME=DIR points the
tool at it.

The output depends only on --events: the generator uses fixed seeds and fixed
timestamps, so the same command writes the same bytes on every run. Event i is
drawn from a generator seeded with i alone, so a smaller store is the first
events of a larger one.

What the events look like (shares are of all events):
- one-off timed events (~85 %) spread over 2020-01-01 .. 2029-12-31, in UTC,
  in zones written out as VTIMEZONE in the file (America/New_York,
  Europe/Berlin, and an Outlook-style "W. Europe Standard Time"), in zones of
  the system's tz database without a VTIMEZONE, and in floating time; they
  last 15 minutes to 4 hours, given by DTEND or DURATION;
- all-day events (~5 %), some of several days;
- weekly or daily recurring events (~10 %) ending by COUNT, by UNTIL or not at
  all, most with EXDATEs, some with overrides (a second VEVENT with the same
  UID and a RECURRENCE-ID, moved or retitled);
- ATTENDEE lines with PARTSTAT on about a third, some of them the user's own
  address; SUMMARY on most; TRANSP and X-MICROSOFT-CDO-BUSYSTATUS on some;
  DESCRIPTION and LOCATION on some, so that long lines get folded.
Lines end with CRLF and are folded at 75 octets, as RFC 5545 requires.
"""

import argparse
import datetime as dt
import os
import random
import shutil
import sys

# The calendar folders and the share of events each one gets.
CALENDARS = [("work", 0.50), ("personal", 0.35), ("shared", 0.15)]

# The user's own addresses: the store's `addresses` file lists the first two
# (in the forms people write them), the work calendar's own file the third.
USER_ADDRESSES = ["me@example.org", "ana.lopez@example.com", "a.lopez@work.example.net"]
ROOT_ADDRESSES_FILE = "me@example.org\n\nMAILTO:Ana.Lopez@Example.com\n"
WORK_ADDRESSES_FILE = "mailto:a.lopez@work.example.net\n"

OTHER_PEOPLE = [
    ("Bruno Keller", "bruno.keller@example.com"),
    ("Chloé Martin", "chloe.martin@example.fr"),
    ("Dmitri Ivanov", "d.ivanov@example.net"),
    ("Emma Johansson", "emma.j@example.se"),
    ("Farid Haddad", "farid@example.org"),
    ("Grace O'Neill", "grace.oneill@example.ie"),
    ("Hiro Tanaka", "h.tanaka@example.jp"),
    ("Inés García", "ines.garcia@example.es"),
    ("Jonas Weber", "jonas.weber@example.de"),
    ("Kavya Rao", "kavya.rao@example.in"),
    ("Liam Brown", "liam.brown@example.co.uk"),
    ("Mei Chen", "mei.chen@example.com"),
]

TITLES = [
    "Team stand-up",
    "1:1 with Bruno",
    "Sprint planning",
    "Design review: calendar sync",
    "Lunch",
    "Dentist",
    "Quarterly business review",
    "Call with the Lisbon office",
    "Yoga",
    "Pick up the kids",
    "Focus time",
    "Interview – backend engineer",
    "Budget, Q3; final numbers",
    "Café with Chloé",
    "Besprechung: Größe der Serverräume",
    "Flight LH 400 FRA → JFK",
    "Retrospective",
    "Architecture sync",
    "Release go/no-go",
    "Customer onboarding workshop",
    "Haircut",
    "Piano lesson",
    "Board meeting prep",
    "Support rotation hand-over",
]

ALL_DAY_TITLES = [
    "Public holiday",
    "Conference: FOSDEM",
    "Vacation",
    "Offsite",
    "Birthday: Emma",
    "Working from Lisbon",
    "Trade fair",
]

LOCATIONS = [
    "Room 4.12 (Atlantis)",
    "https://meet.example.com/abc-defg-hij",
    "Main Street 12, 10115 Berlin, Germany",
    "Zoom",
    "Café Central, Herrengasse 14, 1010 Wien",
    "Building B, 2nd floor, meeting room \"Everest\"",
]

DESCRIPTION_SENTENCES = [
    "Agenda: status of the open items, risks, and next steps.",
    "Please read the attached document before the meeting.",
    "Join by phone: +1 555 0100, PIN 4711#.",
    "We will go through the numbers for the last quarter and agree on the plan.",
    "Bring your laptop; we'll pair on the migration.",
    "Notes from last time are in the shared folder.",
    "This event was moved from last week because of the holiday.",
]

# Zones written out in the file as VTIMEZONE, by the name their TZID uses.
VTIMEZONES = {
    "America/New_York": [
        "BEGIN:VTIMEZONE",
        "TZID:America/New_York",
        "X-LIC-LOCATION:America/New_York",
        "BEGIN:DAYLIGHT",
        "TZOFFSETFROM:-0500",
        "TZOFFSETTO:-0400",
        "TZNAME:EDT",
        "DTSTART:19700308T020000",
        "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU",
        "END:DAYLIGHT",
        "BEGIN:STANDARD",
        "TZOFFSETFROM:-0400",
        "TZOFFSETTO:-0500",
        "TZNAME:EST",
        "DTSTART:19701101T020000",
        "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU",
        "END:STANDARD",
        "END:VTIMEZONE",
    ],
    "Europe/Berlin": [
        "BEGIN:VTIMEZONE",
        "TZID:Europe/Berlin",
        "X-LIC-LOCATION:Europe/Berlin",
        "BEGIN:DAYLIGHT",
        "TZOFFSETFROM:+0100",
        "TZOFFSETTO:+0200",
        "TZNAME:CEST",
        "DTSTART:19700329T020000",
        "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU",
        "END:DAYLIGHT",
        "BEGIN:STANDARD",
        "TZOFFSETFROM:+0200",
        "TZOFFSETTO:+0100",
        "TZNAME:CET",
        "DTSTART:19701025T030000",
        "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU",
        "END:STANDARD",
        "END:VTIMEZONE",
    ],
    # As Outlook writes it: a Windows zone name and rules from 1601.
    "W. Europe Standard Time": [
        "BEGIN:VTIMEZONE",
        "TZID:W. Europe Standard Time",
        "BEGIN:STANDARD",
        "DTSTART:16010101T030000",
        "TZOFFSETFROM:+0200",
        "TZOFFSETTO:+0100",
        "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10",
        "END:STANDARD",
        "BEGIN:DAYLIGHT",
        "DTSTART:16010101T020000",
        "TZOFFSETFROM:+0100",
        "TZOFFSETTO:+0200",
        "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3",
        "END:DAYLIGHT",
        "END:VTIMEZONE",
    ],
}

# Zones named by TZID alone, found in the system's tz database.
SYSTEM_ZONES = [
    "Europe/London",
    "America/Los_Angeles",
    "Asia/Tokyo",
    "Australia/Sydney",
    "Asia/Kolkata",
    "America/Sao_Paulo",
]

FIRST_DAY = dt.date(2020, 1, 1)
DAYS = (dt.date(2029, 12, 31) - FIRST_DAY).days + 1
WEEKDAYS = ["MO", "TU", "WE", "TH", "FR", "SA", "SU"]
PRODIDS = [
    "-//Example Corp//Calendar 1.0//EN",
    "-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN",
    "-//Google Inc//Google Calendar 70.9054//EN",
    "-//Apple Inc.//macOS 14.4//EN",
]


def escape_text(text):
    """Escapes a TEXT value (RFC 5545 section 3.3.11)."""
    return (
        text.replace("\\", "\\\\").replace(";", "\\;").replace(",", "\\,").replace("\n", "\\n")
    )


def fold(line):
    """Folds a content line into parts of at most 75 octets, never inside a
    UTF-8 sequence, each continuation starting with one space."""
    data = line.encode("utf-8")
    parts = []
    limit = 75
    while len(data) > limit:
        cut = limit
        while cut > 0 and (data[cut] & 0xC0) == 0x80:
            cut -= 1
        parts.append(data[:cut])
        data = data[cut:]
        limit = 74  # the leading space of a continuation counts
    parts.append(data)
    return b"\r\n ".join(parts) + b"\r\n"


def fmt_local(t):
    return t.strftime("%Y%m%dT%H%M%S")


def fmt_date(d):
    return d.strftime("%Y%m%d")


class TimeForm:
    """How an event's times are written: in UTC, with a TZID, or floating."""

    def __init__(self, kind, tzid=None):
        self.kind = kind  # "utc", "tzid" or "floating"
        self.tzid = tzid

    def prop(self, name, wall):
        """A DATE-TIME property for the wall-clock time `wall`. For UTC the
        wall time is taken as UTC."""
        if self.kind == "utc":
            return f"{name}:{fmt_local(wall)}Z"
        if self.kind == "tzid":
            return f"{name};TZID={self.tzid}:{fmt_local(wall)}"
        return f"{name}:{fmt_local(wall)}"

    def prop_list(self, name, walls):
        values = ",".join(fmt_local(w) + ("Z" if self.kind == "utc" else "") for w in walls)
        if self.kind == "tzid":
            return f"{name};TZID={self.tzid}:{values}"
        return f"{name}:{values}"

    def until(self, wall):
        """An RRULE UNTIL for a last start at `wall`: in UTC for zoned and UTC
        starts, floating for floating ones, as RFC 5545 requires. A day's
        margin keeps the last start inside whatever the zone's offset is."""
        if self.kind == "floating":
            return fmt_local(wall)
        return fmt_local(wall + dt.timedelta(days=1)) + "Z"


def pick_time_form(rng):
    r = rng.random()
    if r < 0.30:
        return TimeForm("utc")
    if r < 0.45:
        return TimeForm("tzid", "Europe/Berlin")
    if r < 0.57:
        return TimeForm("tzid", "America/New_York")
    if r < 0.62:
        return TimeForm("tzid", "W. Europe Standard Time")
    if r < 0.85:
        return TimeForm("tzid", rng.choice(SYSTEM_ZONES))
    return TimeForm("floating")


def random_uid(rng):
    value = "%032x" % rng.getrandbits(128)
    return f"{value[:8]}-{value[8:12]}-{value[12:16]}-{value[16:20]}-{value[20:]}"


def random_stamp(rng):
    """A DTSTAMP, CREATED or LAST-MODIFIED value in UTC."""
    t = dt.datetime(2019, 6, 1) + dt.timedelta(seconds=rng.randrange(6 * 365 * 86400))
    return fmt_local(t) + "Z"


def random_start(rng):
    """A wall-clock start: a day in the ten years, mostly in working hours, on
    a quarter hour."""
    day = FIRST_DAY + dt.timedelta(days=rng.randrange(DAYS))
    hour = rng.randrange(8, 19) if rng.random() < 0.85 else rng.randrange(0, 24)
    minute = rng.choice([0, 0, 0, 15, 30, 30, 45])
    return dt.datetime(day.year, day.month, day.day, hour, minute)


def duration_text(minutes):
    hours, rest = divmod(minutes, 60)
    text = "PT"
    if hours:
        text += f"{hours}H"
    if rest:
        text += f"{rest}M"
    return text


def random_minutes(rng):
    return rng.choice([15, 30, 30, 30, 45, 60, 60, 60, 60, 90, 120, 180, 240])


def attendee_lines(rng):
    """ORGANIZER and ATTENDEE lines for an invitation, sometimes including
    the user, or nothing for an event without attendees."""
    if rng.random() >= 0.35:
        return []
    people = rng.sample(OTHER_PEOPLE, rng.randrange(1, 6))
    organizer = people[0]
    lines = [f'ORGANIZER;CN="{organizer[0]}":mailto:{organizer[1]}']
    entries = [(name, "mailto:" + address) for name, address in people]
    if rng.random() < 0.6:
        # The user's own address, written as mail clients variously write it.
        address = rng.choice(USER_ADDRESSES)
        if rng.random() < 0.2:
            address = address.upper()
        scheme = rng.choice(["mailto:", "mailto:", "MAILTO:"])
        entries.insert(rng.randrange(1, len(entries) + 1), ("Ana López", scheme + address))
    statuses = ["ACCEPTED"] * 5 + ["NEEDS-ACTION"] * 3 + ["DECLINED", "TENTATIVE"] * 2
    statuses += ["DELEGATED", None]
    for name, uri in entries:
        status = rng.choice(statuses)
        params = "ATTENDEE;CUTYPE=INDIVIDUAL;ROLE=REQ-PARTICIPANT"
        if status is not None:
            params += f";PARTSTAT={status}"
        if rng.random() < 0.5:
            params += ";RSVP=TRUE"
        params += f';CN="{name}"'
        lines.append(f"{params}:{uri}")
    return lines


def availability_lines(rng, all_day):
    lines = []
    if rng.random() < (0.7 if all_day else 0.4):
        transparent = rng.random() < (0.8 if all_day else 0.2)
        lines.append("TRANSP:" + ("TRANSPARENT" if transparent else "OPAQUE"))
    if rng.random() < 0.12:
        status = rng.choice(["BUSY", "BUSY", "FREE", "TENTATIVE", "OOF"])
        lines.append(f"X-MICROSOFT-CDO-BUSYSTATUS:{status}")
    return lines


def text_lines(rng, titles):
    """SUMMARY (on most events), and LOCATION and DESCRIPTION on some."""
    lines = []
    r = rng.random()
    if r < 0.95:
        lines.append("SUMMARY:" + escape_text(rng.choice(titles)))
    elif r < 0.96:
        lines.append("SUMMARY:")
    if rng.random() < 0.45:
        lines.append("LOCATION:" + escape_text(rng.choice(LOCATIONS)))
    if rng.random() < 0.25:
        count = rng.randrange(1, 4)
        text = "\n".join(rng.sample(DESCRIPTION_SENTENCES, count))
        lines.append("DESCRIPTION:" + escape_text(text))
    return lines


def common_lines(rng, uid):
    lines = [f"UID:{uid}", f"DTSTAMP:{random_stamp(rng)}"]
    if rng.random() < 0.9:
        lines.append(f"CREATED:{random_stamp(rng)}")
        lines.append(f"LAST-MODIFIED:{random_stamp(rng)}")
    if rng.random() < 0.3:
        lines.append(f"SEQUENCE:{rng.randrange(0, 4)}")
    if rng.random() < 0.8:
        lines.append("STATUS:CONFIRMED")
    if rng.random() < 0.4:
        lines.append("CLASS:PUBLIC")
    if rng.random() < 0.4:
        lines.append("X-APPLE-TRAVEL-ADVISORY-BEHAVIOR:AUTOMATIC")
    return lines


def alarm_lines(rng):
    """A reminder on about half of the events, as calendar apps add them."""
    if rng.random() >= 0.55:
        return []
    alarm_uid = random_uid(rng).upper()
    return [
        "BEGIN:VALARM",
        "ACTION:DISPLAY",
        "DESCRIPTION:Reminder",
        "TRIGGER:-PT" + rng.choice(["5M", "10M", "15M", "30M", "1H"]),
        f"UID:{alarm_uid}",
        f"X-WR-ALARMUID:{alarm_uid}",
        "END:VALARM",
    ]


def timed_span_lines(rng, form, start):
    minutes = random_minutes(rng)
    lines = [form.prop("DTSTART", start)]
    if rng.random() < 0.75:
        lines.append(form.prop("DTEND", start + dt.timedelta(minutes=minutes)))
    else:
        lines.append("DURATION:" + duration_text(minutes))
    return lines


def one_off_event(rng, uid):
    form = pick_time_form(rng)
    lines = ["BEGIN:VEVENT"] + common_lines(rng, uid)
    lines += timed_span_lines(rng, form, random_start(rng))
    lines += text_lines(rng, TITLES)
    lines += availability_lines(rng, False)
    lines += attendee_lines(rng)
    lines += alarm_lines(rng)
    lines.append("END:VEVENT")
    return form, [lines]


def all_day_event(rng, uid):
    start = FIRST_DAY + dt.timedelta(days=rng.randrange(DAYS))
    days = 1 if rng.random() < 0.7 else rng.randrange(2, 8)
    lines = ["BEGIN:VEVENT"] + common_lines(rng, uid)
    lines.append(f"DTSTART;VALUE=DATE:{fmt_date(start)}")
    r = rng.random()
    if r < 0.8:
        lines.append(f"DTEND;VALUE=DATE:{fmt_date(start + dt.timedelta(days=days))}")
    elif r < 0.9:
        lines.append(f"DURATION:P{days}D")
    # else: no end, which means one day
    lines += text_lines(rng, ALL_DAY_TITLES)
    lines += availability_lines(rng, True)
    lines += alarm_lines(rng)
    lines.append("END:VEVENT")
    return None, [lines]


def recurring_event(rng, uid):
    form = pick_time_form(rng)
    start = random_start(rng)
    rule = "RRULE:FREQ="
    # Exceptions (EXDATE, RECURRENCE-ID) are picked among the starts that are
    # `step` apart from the first, all of which the rule produces;
    # `per_step` is how many occurrences the rule makes per step.
    if rng.random() < 0.3:
        rule += "DAILY"
        step, per_step = dt.timedelta(days=1), 1
        if rng.random() < 0.5:
            rule += ";BYDAY=MO,TU,WE,TH,FR"
            while start.weekday() >= 5:
                start += dt.timedelta(days=1)
            step, per_step = dt.timedelta(days=7), 5
    else:
        rule += "WEEKLY"
        interval = 1 if rng.random() < 0.75 else 2
        if interval > 1:
            rule += f";INTERVAL={interval}"
        step, per_step = dt.timedelta(days=7 * interval), 1
        day = WEEKDAYS[start.weekday()]
        extra = WEEKDAYS[(start.weekday() + 2) % 5]
        if rng.random() < 0.25 and extra != day:
            rule += f";BYDAY={day},{extra}"
            per_step = 2
        else:
            rule += f";BYDAY={day}"

    r = rng.random()
    if r < 0.45:
        count = rng.randrange(4, 53)
        rule += f";COUNT={count}"
        steps = count // per_step
    elif r < 0.85:
        steps = rng.randrange(4, 80)
        rule += ";UNTIL=" + form.until(start + steps * step)
    else:
        steps = 60  # no end: exceptions among the first occurrences
    steps = max(steps, 2)

    # Never the first occurrence, so that every event has its start.
    picks = rng.sample(range(1, steps), min(steps - 1, rng.randrange(1, 5)))
    overrides = []
    if rng.random() < 0.25:
        overrides = sorted(picks[: rng.randrange(1, 3)])
        picks = picks[len(overrides) :]
    exdates = sorted(picks) if rng.random() < 0.85 else []

    minutes = random_minutes(rng)
    master = ["BEGIN:VEVENT"] + common_lines(rng, uid)
    master.append(form.prop("DTSTART", start))
    if rng.random() < 0.75:
        master.append(form.prop("DTEND", start + dt.timedelta(minutes=minutes)))
    else:
        master.append("DURATION:" + duration_text(minutes))
    master.append(rule)
    if exdates:
        walls = [start + k * step for k in exdates]
        if rng.random() < 0.5:
            master.append(form.prop_list("EXDATE", walls))
        else:
            master += [form.prop("EXDATE", w) for w in walls]
    title = rng.choice(TITLES)
    master.append("SUMMARY:" + escape_text(title))
    master += availability_lines(rng, False)
    people = attendee_lines(rng)
    master += people
    master += alarm_lines(rng)
    master.append("END:VEVENT")

    events = [master]
    for k in overrides:
        # One occurrence moved, retitled, or both.
        original = start + k * step
        moved, new_title = original, title
        change = rng.random()
        if change < 0.7:
            moved = original + dt.timedelta(minutes=rng.choice([-60, 30, 60, 120, 24 * 60]))
        if change >= 0.4:
            new_title = rng.choice([t for t in TITLES if t != title])
        override = ["BEGIN:VEVENT", f"UID:{uid}", f"DTSTAMP:{random_stamp(rng)}"]
        override.append(form.prop("RECURRENCE-ID", original))
        override.append(form.prop("DTSTART", moved))
        override.append(form.prop("DTEND", moved + dt.timedelta(minutes=minutes)))
        override.append("SUMMARY:" + escape_text(new_title))
        override.append(f"SEQUENCE:{rng.randrange(1, 4)}")
        override += people
        override.append("END:VEVENT")
        events.append(override)
    return form, events


def event_file(index):
    """The calendar folder, file name and bytes of event `index`."""
    rng = random.Random(index)
    r = rng.random()
    calendar = CALENDARS[-1][0]
    for name, share in CALENDARS:
        if r < share:
            calendar = name
            break
        r -= share

    # vdirsyncer names files after their UID; some servers add a domain.
    uid = random_uid(rng)
    if rng.random() < 0.3:
        uid += "@example.com"
    kind = rng.random()
    if kind < 0.05:
        form, events = all_day_event(rng, uid)
    elif kind < 0.15:
        form, events = recurring_event(rng, uid)
    else:
        form, events = one_off_event(rng, uid)

    lines = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:" + rng.choice(PRODIDS)]
    if rng.random() < 0.3:
        lines.append("CALSCALE:GREGORIAN")
    if form is not None and form.kind == "tzid" and form.tzid in VTIMEZONES:
        lines += VTIMEZONES[form.tzid]
    for event in events:
        lines += event
    lines.append("END:VCALENDAR")
    return calendar, uid + ".ics", b"".join(fold(line) for line in lines)


def write_store(events, out):
    root = os.path.join(out, "calendars")
    staging = root + ".partial"
    shutil.rmtree(staging, ignore_errors=True)
    os.makedirs(staging)
    with open(os.path.join(staging, "addresses"), "wb") as f:
        f.write(ROOT_ADDRESSES_FILE.encode())
    for name, _ in CALENDARS:
        folder = os.path.join(staging, name)
        os.makedirs(folder)
        with open(os.path.join(folder, "displayname"), "wb") as f:
            f.write(name.capitalize().encode())
        with open(os.path.join(folder, "color"), "wb") as f:
            f.write(b"#3a87ad")
    with open(os.path.join(staging, "work", "addresses"), "wb") as f:
        f.write(WORK_ADDRESSES_FILE.encode())

    total = 0
    for index in range(events):
        calendar, name, data = event_file(index)
        with open(os.path.join(staging, calendar, name), "wb") as f:
            f.write(data)
        total += len(data)

    shutil.rmtree(root, ignore_errors=True)
    os.rename(staging, root)
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--events", type=int, required=True, help="number of events (files)")
    parser.add_argument(
        "--out", required=True, help="folder to write calendars/ into (the XDG_DATA_HOME)"
    )
    args = parser.parse_args()
    if args.events < 0:
        parser.error("--events must not be negative")
    total = write_store(args.events, args.out)
    print(
        f"{args.events} events, {total} bytes in {os.path.join(args.out, 'calendars')}",
        file=sys.stderr,
    )


if __name__ == "__main__":
    main()
