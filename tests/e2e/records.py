"""The program's fixed-record files as the tests see them: the site list
(1,252-byte records, sites/site_record.h), written, and the event log
(365-byte records, alerts/event_log.h), read."""
import struct

SITE_RECORD_SIZE = 1252
EVENT_RECORD_SIZE = 365

# Field: (offset, width); texts are NUL-padded, flags one byte.
SITE_TEXTS = {"host": (0, 100), "user": (100, 100), "password": (200, 100), "folder": (300, 200),
              "mask": (500, 50), "secure": (550, 200), "option": (759, 100), "recipient": (860, 80),
              "mail_server": (940, 80), "mail_user": (1020, 50), "mail_password": (1070, 50)}
SITE_FLAGS = {"sync": 750, "mirror": 751, "active": 752, "offset_measured": 753, "alerts": 859}
OFFSET_HOURS = 754  # signed 32-bit
MAIL_PORT = 1120    # 16-bit, read as unsigned


def site_record(host, mask, active=1, offset_hours=0, mail_port=0, **fields):
    """A site list record; fields name SITE_TEXTS (str) and SITE_FLAGS (int)."""
    record = bytearray(SITE_RECORD_SIZE)
    fields.update(host=host, mask=mask, active=active)
    for name, value in fields.items():
        if name in SITE_FLAGS:
            record[SITE_FLAGS[name]] = value
        else:
            offset, width = SITE_TEXTS[name]
            text = value.encode()
            assert len(text) < width, name
            record[offset:offset + len(text)] = text
    struct.pack_into("<i", record, OFFSET_HOURS, offset_hours)
    struct.pack_into("<H", record, MAIL_PORT, mail_port)
    return bytes(record)


def event_record(kind, name, month, day, hour, minute):
    """A 365-byte event log record: type, an entry with a name, the stamp."""
    record = bytearray(365)
    record[8] = kind
    record[11:15] = struct.pack("<I", 0x20)
    record[11 + 44:11 + 44 + len(name)] = name.encode()
    record[329:365] = struct.pack("<9i", 0, minute, hour, day, month - 1, 126, 0, 0, 0)
    return bytes(record)


def events(data):
    """The (type, name) of each event of an event log's bytes, oldest first."""
    found = []
    for at in range(0, len(data) - EVENT_RECORD_SIZE + 1, EVENT_RECORD_SIZE):
        name = data[at + 11 + 44:at + 11 + 44 + 260].split(b"\0", 1)[0].decode(errors="replace")
        found.append((data[at + 8], name))
    return found
