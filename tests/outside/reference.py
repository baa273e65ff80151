"""What the targets must receive, written from the documented behaviour, not from the program."""

DIGITS = "0123456789"
CAPITALS = "AZERTYUIOPQSDFGHJKLMWXCVBN"
SMALLS = "azertyuiopqsdfghjklmwxcvbn"
ARITHMETIC = "+/=*^><²³.,%"
ACCENTED = "éèàâêûîôÄËÜÏÖäëüïöÂÊÛÎÔ"
OTHERS = "&|@#'(§!çà)_¨$[]£%µ`~;:\\€{}"
BLANK = " "

ALPHABETS = {
    "Faible": DIGITS + CAPITALS,
    "Moyen": DIGITS + CAPITALS + SMALLS + BLANK,
    "Elevé": DIGITS + CAPITALS + SMALLS + ARITHMETIC + ACCENTED + OTHERS + BLANK,
}

BANNER = "--------- MORVANTE 1.0 2 ---------"
TITLES = "Utilisateur\tMot de passe"
TITLES_WITH_CODE = TITLES + "\tChaîne cryptée"


def footer(count_text):
    noun = " codes générés ---" if int(count_text) > 1 else " code généré ---"
    return "--- Terminé :  " + count_text + noun


def cp1252(ch):
    """The character's Windows-1252 code; characters without one count as "?"."""
    if ch == "€":
        return 128
    code = ord(ch)
    return code if code < 256 and not 0x80 <= code < 0xA0 else 63


def irreversible_code(key, data):
    s = data + key
    h = 13
    result = ""
    for r in range(1, 5):
        for ch in s:
            h += cp1252(ch) * (h % 95 + r * r) + len(s)
        result += format(h, "X")[-2:]
    return result


def check_password(password, level, length, segments):
    groups = password.split("-")
    if len(groups) != segments:
        return f"{password!r}: {len(groups)} groups, not {segments}"
    for group in groups:
        if len(group) != length // segments:
            return f"{password!r}: a group of {len(group)}, not {length // segments}"
        strangers = [c for c in group if c not in ALPHABETS[level]]
        if strangers:
            return f"{password!r}: {strangers} not in the alphabet of {level}"
    return None


def check_rows(rows, expect):
    """Checks result rows: [name TAB] password [TAB code], in the order of the names given."""
    problems = []
    names = expect.get("names")
    if len(rows) != expect["rows"]:
        problems.append(f"{len(rows)} rows, not {expect['rows']}")
    for i, row in enumerate(rows):
        fields = row.split("\t")
        want_fields = 1 + (names is not None) + bool(expect.get("puk") is not None and names)
        if len(fields) != want_fields:
            problems.append(f"row {i} {row!r}: {len(fields)} fields, not {want_fields}")
            continue
        password = fields[1] if names else fields[0]
        problem = check_password(password, expect["level"], expect["length"], expect["segments"])
        if problem:
            problems.append(problem)
        if names:
            want_name = names[i % len(names)] if expect.get("repeat") else names[i]
            if fields[0] != want_name:
                problems.append(f"row {i}: name {fields[0]!r}, not {want_name!r}")
            if len(fields) == 3:
                code = irreversible_code(expect["puk"], fields[0] + "\t" + password)
                if fields[2] != code:
                    problems.append(f"row {i}: code {fields[2]!r}, not {code!r}")
    return problems


def check_editor_document(text, expect):
    """The editor route: banner, three Enters, titles, rows, two Enters, footer."""
    lines = text.split("\n")
    titles = expect.get("titles")
    head = [BANNER, "", ""] + ([titles] if titles else [])
    problems = []
    if lines[:len(head)] != head:
        problems.append(f"head {lines[:len(head)]!r}, not {head!r}")
    tail = ["", "", footer(expect["count_text"])]
    if lines[-3:] != tail:
        problems.append(f"tail {lines[-3:]!r}, not {tail!r}")
    rows = lines[len(head):-3]
    return problems + check_rows(rows, expect), rows


def check_program_input(data, expect):
    """The other-program route: titles and rows, each ended by Enter (a terminal's CR).

    A terminal whose reader has not yet switched it to raw mode turns Enter into a line feed."""
    data = data.replace("\n", "\r")
    problems = []
    if not data.endswith("\r"):
        problems.append(f"input does not end with Enter: {data[-20:]!r}")
    lines = data.split("\r")[:-1]
    titles = expect.get("titles")
    if titles:
        if not lines or lines[0] != titles:
            problems.append(f"title line {lines[:1]!r}, not {titles!r}")
        lines = lines[1:]
    return problems + check_rows(lines, expect), lines
