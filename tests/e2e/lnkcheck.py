#!/usr/bin/python3
"""Reads a .lnk file with independent parsers and prints what they see as JSON.

Usage: /usr/bin/python3 tests/e2e/lnkcheck.py FILE.lnk [--expect EXPECTED.json]

The link is read with pylnk (python3-liblnk), its item ID list with pyfwsi
(python3-libfwsi), and `lnkinfo FILE` is run as well; none of them is ours,
so a link that passes here is not just consistent with our own writer.
Besides what the parsers report, a few size rules that Windows enforces and
the parsers forgive are checked on the raw item bytes (each item's size
field, the extension block's size and the offset at the item's end).

With --expect, the JSON object in that file names fields of the result and
their expected values (lists and objects compared element by element, keys
absent from the expectation not looked at); a difference is an error.

Exit status 0 when every parser read the link and every check held; 1 with
the JSON's "errors" list filled otherwise; 2 for a usage error.  Only
/usr/bin/python3 has the parser modules.

Importable: read_link(path) -> dict (the same object that is printed),
same_name(expected, actual) and compare(expected, actual).  With
read_link(path, ours=False) the checks that hold our own writer to the form
Windows writes (the version-3 0xbeef0004 block in every file item) are left
out: a link that Wine's Shell wrote has items of Wine's own form, and an
item's name is then its primary name.

What pylnk reads of a link for another machine: network_path (the share
and the path below it, the Unicode copies where the link has them),
environment_variables_location (the target's environment block), and as
icon_location the icon environment block's text where there is one.  A
link whose flags name no item ID list has "items": [].

Known quirk of Debian's liblnk/libfwsi 20181227: a character outside the
Basic Multilingual Plane (a UTF-16 surrogate pair) is decoded to a wrong
code point; it is still one character in the right place.  Show command,
hot key and icon index are misread too: they are read from the header's bytes.
"""

import json
import struct
import subprocess
import sys
import uuid

import pyfwsi
import pylnk

LNKINFO = "lnkinfo"


def _kind(item):
    if isinstance(item, pyfwsi.root_folder):
        return "root"
    if isinstance(item, pyfwsi.volume):
        return "volume"
    if isinstance(item, pyfwsi.file_entry):
        return "file" if item.class_type & 0x02 else "folder"
    return None


def _long_name(item):
    for block in item.extension_blocks:
        if isinstance(block, pyfwsi.file_entry_extension):
            return block.long_name
    return None


def _raw_items(idlist):
    """Splits the raw ID list by its size fields: [(offset, bytes)], error."""
    items = []
    offset = 0
    while True:
        if offset + 2 > len(idlist):
            return items, "item list ends without its terminal item"
        (size,) = struct.unpack_from("<H", idlist, offset)
        if size == 0:
            if offset + 2 != len(idlist):
                return items, "%d bytes after the terminal item" % (len(idlist) - offset - 2)
            return items, None
        if size < 3 or offset + size > len(idlist):
            return items, "item at %d has size %d beyond the list" % (offset, size)
        items.append((offset, idlist[offset:offset + size]))
        offset += size


def _check_file_entry(raw, index):
    """The extension block must fill the item exactly and be pointed at by
    the item's last two bytes; Windows rejects an item where they disagree."""
    (block_at,) = struct.unpack_from("<H", raw, len(raw) - 2)
    if block_at < 14 or block_at % 2 or block_at + 8 > len(raw):
        return "item %d: extension block offset %d out of place" % (index, block_at)
    block_size, version, signature = struct.unpack_from("<HHI", raw, block_at)
    if signature != 0xBEEF0004:
        return "item %d: block at %d has signature 0x%08x" % (index, block_at, signature)
    if block_at + block_size != len(raw):
        return "item %d: extension block of %d bytes at %d, item has %d" % (
            index, block_size, block_at, len(raw))
    if version < 3:
        return "item %d: extension block version %d carries no long name" % (index, version)
    return None


def blocks_at(data):
    """Where a link's extra data blocks begin: after the header, the item
    list, the LinkInfo and the strings its flags say it has (struct.error
    where a size field lies past the end)."""
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x01:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if flags & 0x02:
        at += struct.unpack_from("<I", data, at)[0]
    for bit in (0x04, 0x08, 0x10, 0x20, 0x40):
        if flags & bit:
            at += 2 + struct.unpack_from("<H", data, at)[0] * (2 if flags & 0x80 else 1)
    return at


def _property_store(data):
    """The property store block's storages, read here from the bytes (liblnk
    20181227 does not read it): [(format ID, [(id, VT type, value)])], the
    value a str for VT_LPWSTR, else the value's bytes; None without a block."""
    at = blocks_at(data)
    while at + 8 <= len(data):
        size, signature = struct.unpack_from("<II", data, at)
        if size < 8:
            break
        if signature == 0xA0000009:
            store, storages = data[at + 8:at + size], []
            while len(store) >= 4 and struct.unpack_from("<I", store)[0]:
                length = struct.unpack_from("<I", store)[0]
                storage, store = store[:length], store[length:]
                if storage[4:8] != b"1SPS":
                    raise ValueError("storage version %r" % storage[4:8])
                values, rest = [], storage[24:]
                while struct.unpack_from("<I", rest)[0]:
                    value_size, pid = struct.unpack_from("<II", rest)
                    vt = struct.unpack_from("<H", rest, 9)[0]
                    value = rest[13:value_size]
                    if vt == 0x1F:
                        count = struct.unpack_from("<I", value)[0]
                        value = value[4:4 + 2 * count].decode("utf-16-le").rstrip("\0")
                    values.append((pid, vt, value))
                    rest = rest[value_size:]
                storages.append((str(uuid.UUID(bytes_le=storage[8:24])).upper(), values))
            return storages
        at += size
    return None


def read_link(path, ours=True):
    result = {"path": path, "errors": []}
    errors = result["errors"]

    # The header's fixed fields that liblnk 20181227 misreads: the icon
    # index, the show command and the hot key, straight from the bytes; and
    # whether the flags say there is an item ID list.
    with open(path, "rb") as f:
        header = f.read(0x4C)
    has_idlist = len(header) == 0x4C and bool(header[20] & 0x01)
    if len(header) == 0x4C:
        result["icon_index"], result["show_command"], result["hot_key"] = struct.unpack_from("<iIH", header, 0x38)

    # The property store and the AppUserModelID in it.
    with open(path, "rb") as f:
        data = f.read()
    try:
        result["property_store"] = _property_store(data)
    except (struct.error, ValueError, UnicodeDecodeError) as error:
        errors.append("property store: %s" % error)
        result["property_store"] = None
    result["app_id"] = next((value for fmt, values in result["property_store"] or []
                             if fmt == "9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3"
                             for pid, vt, value in values if pid == 5 and vt == 0x1F), None)

    try:
        link = pylnk.file()
        link.open(path)
    except (OSError, IOError) as error:
        errors.append("pylnk: %s" % error)
        link = None

    idlist = None
    if link is not None:
        result.update({
            "local_base_path": link.local_path,
            "network_path": link.network_path,
            "environment_variables_location": link.environment_variables_location,
            "working_directory": link.working_directory,
            "command_line_arguments": link.command_line_arguments,
            "description": link.description,
            "relative_path": link.relative_path,
            "file_size": link.file_size,
            "file_attribute_flags": link.file_attribute_flags,
            "creation_time": link.get_file_creation_time_as_integer(),
            "access_time": link.get_file_access_time_as_integer(),
            "modification_time": link.get_file_modification_time_as_integer(),
            "drive_type": link.drive_type,
            "drive_serial_number": link.drive_serial_number,
            "volume_label": link.volume_label,
            "data_flags": link.data_flags,
            "icon_location": link.icon_location,
        })
        idlist = link.link_target_identifier_data
        link.close()
        if has_idlist and idlist is None:
            errors.append("pylnk: the link has no item ID list")
        elif idlist is not None and not has_idlist:
            errors.append("pylnk: an item ID list the flags do not name")

    items = []
    if idlist is not None:
        result["idlist_size"] = len(idlist)
        raw_items, raw_error = _raw_items(idlist)
        if raw_error:
            errors.append("raw: " + raw_error)
        try:
            item_list = pyfwsi.item_list()
            item_list.copy_from_byte_stream(idlist)
            parsed = list(item_list.items)
        except (OSError, IOError) as error:
            errors.append("pyfwsi: %s" % error)
            parsed = []
        if parsed and len(parsed) != len(raw_items):
            errors.append("pyfwsi found %d items, the size fields %d" % (len(parsed), len(raw_items)))
        for index, item in enumerate(parsed):
            kind = _kind(item)
            entry = {"class_type": item.class_type, "kind": kind, "size": item.data_size}
            if kind is None:
                errors.append("pyfwsi: item %d of class 0x%02x is of no known kind" % (index, item.class_type))
            elif kind == "root":
                entry["name"] = item.shell_folder_identifier
            elif kind == "volume":
                entry["name"] = item.name
            else:
                entry["primary_name"] = item.name
                entry["file_size"] = item.file_size
                entry["name"] = _long_name(item)
                if not ours:
                    entry["name"] = entry["name"] or item.name
                elif entry["name"] is None:
                    errors.append("pyfwsi: item %d has no 0xbeef0004 long name" % index)
                if ours and index < len(raw_items):
                    raw_error = _check_file_entry(raw_items[index][1], index)
                    if raw_error:
                        errors.append("raw: " + raw_error)
            if index < len(raw_items) and len(raw_items[index][1]) != item.data_size:
                errors.append("item %d: pyfwsi size %d, size field %d" % (
                    index, item.data_size, len(raw_items[index][1])))
            items.append(entry)
    result["items"] = items

    try:
        run = subprocess.run([LNKINFO, path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        result["lnkinfo_status"] = run.returncode
        result["lnkinfo_output"] = run.stdout.decode("utf-8", "replace")
        if run.returncode != 0:
            errors.append("lnkinfo exited with %d" % run.returncode)
    except OSError as error:
        result["lnkinfo_status"] = None
        result["lnkinfo_output"] = ""
        errors.append("lnkinfo: %s" % error)

    return result


def same_name(expected, actual):
    """Equal strings, but for the liblnk quirk: each character outside the
    Basic Multilingual Plane only has to come back as one such character."""
    if not isinstance(actual, str) or len(expected) != len(actual):
        return False
    return all(e == a or (ord(e) > 0xFFFF and ord(a) > 0xFFFF) for e, a in zip(expected, actual))


def compare(expected, actual, where="result"):
    """The differences between an expectation and what was read, as messages."""
    if isinstance(expected, dict):
        if not isinstance(actual, dict):
            return ["%s: expected an object, read %r" % (where, actual)]
        return [m for key, value in expected.items()
                for m in compare(value, actual.get(key), "%s.%s" % (where, key))]
    if isinstance(expected, list):
        if not isinstance(actual, list) or len(actual) != len(expected):
            return ["%s: expected %r, read %r" % (where, expected, actual)]
        return [m for i, (e, a) in enumerate(zip(expected, actual)) for m in compare(e, a, "%s[%d]" % (where, i))]
    if isinstance(expected, str) and same_name(expected, actual):
        return []
    if expected == actual and type(expected) is type(actual):
        return []
    return ["%s: expected %r, read %r" % (where, expected, actual)]


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--expect"):
        sys.stderr.write("usage: %s FILE.lnk [--expect EXPECTED.json]\n" % argv[0])
        return 2
    result = read_link(argv[1])
    if len(argv) == 4:
        with open(argv[3], encoding="ascii") as f:
            result["errors"] += compare(json.load(f), result)
    # ASCII output with \u escapes: the reader needs no locale to decode it.
    sys.stdout.write(json.dumps(result, indent=1, sort_keys=True) + "\n")
    return 1 if result["errors"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
