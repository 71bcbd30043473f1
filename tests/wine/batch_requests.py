#!/usr/bin/env python3
"""Requests for the batch comparison of the Windows DLL with the Linux build.

    batch_requests.py inputs DIR
        writes the input files that the file requests read into DIR;
    batch_requests.py first IN OUT [--windows]
        prints the first request set: every digest, every cipher in every
        chaining mode, files, password generation, conversions and errors.
        IN is the folder of the inputs, OUT the one the requests write to;
        --windows writes them as the program under Wine sees them (Z:\\...);
    batch_requests.py second FIRST_ANSWERS
        prints the second set: DecryptString of every ciphertext in the
        answers to the first set (from either side: they must be equal),
        right and wrong.
    batch_requests.py texts CODEPAGE
        prints a set about text in one ANSI code page (both sides convert
        in CODEPAGE): digests, ciphertexts and decryptions of text in that
        page's script and of text it cannot hold, decryptions that give
        arbitrary bytes (broken lead and trail byte pairs), and styles.

Everything is deterministic: both sides get the same requests, apart from
the folder names in the first set, and must give the same answers.
"""
import hashlib
import json
import sys

DIGESTS = list(range(10))
CIPHERS = list(range(20))
MODES = list(range(5))
# Digests that turn the password into the key: a short one and a long one.
KEY_DIGESTS = [0, 6]
# Codes beyond the catalogue select the first entry; -1 the property.
ODD_CODES = [-1, 10, 99, -2, 2147483647, -2147483648]

# Each character is one byte in Windows-1252, so n characters are n bytes.
PATTERN = "Kestrune é€ 0123456789 abcdefghijklmnopqrstuvwxyz ÄÖÜ ß ¿¡ «»"
STRING_LENGTHS = [0, 1, 7, 8, 15, 16, 17, 100]
PASSWORDS = ["pw", "", "Grüße-Paßwort", "a password with spaces", "Ωmega-ключ", "p" * 300]

HASH_TEXTS = [
    "",
    "abc",
    "The quick brown fox jumps over the lazy dog",
    (PATTERN * 20)[:1000],
    "Grüße",
    # Windows-1252's own characters at 0x80-0x9F, then Latin-1 at 0xA0-0xFF.
    "€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ",
    "".join(chr(c) for c in range(0xA0, 0x100)),
    # Not in the code page: best-fit characters or '?'.
    "Ωmega ǅ ĀāĂă Łódź ‐ ― ′ ∞ ≤ ﬁ Ａ",
    "日本語のテキスト",
    "\U0001F600 surrogate pair",
    "a\u0000b",
    "tab\tcr\rlf\n",
    # The five bytes that the code page leaves undefined.
    "\u0081\u008d\u008f\u0090\u009d",
    "\ufffd\ufeffBOM",
]

INPUT_SIZES = [0, 1, 7, 8, 9, 15, 16, 17, 100, 1000, 4099]
BIG_INPUT = "big.bin"
NAMED_INPUTS = ["Grüße ñ.bin", "Ωmega-ключ.bin", "lines.txt"]


def sized_input(n):
    return f"size{n}.bin"


def input_bytes(name):
    """Content of an input file: pseudo-random bytes, or text lines."""
    if name == "lines.txt":
        return b"first line\r\nsecond line\nthird\r\rno end"
    size = {BIG_INPUT: 70001, "Grüße ñ.bin": 333, "Ωmega-ключ.bin": 64}.get(name)
    if size is None:
        size = int(name[len("size"):-len(".bin")])
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{name}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


def all_inputs():
    return [sized_input(n) for n in INPUT_SIZES] + [BIG_INPUT] + NAMED_INPUTS


def text_of_length(n, shift=0):
    return ((PATTERN * (n // len(PATTERN) + 2))[shift:shift + n])


class Requests:
    def __init__(self, indir="", outdir="", windows=False):
        self.lines = []
        self.windows = windows
        self.indir = indir
        self.outdir = outdir
        # For each EncryptString: (index among answered lines, context puts, args).
        self.encryptions = []
        self.context = []
        self.answered = 0

    def path(self, folder, name):
        if self.windows:
            return "Z:" + folder.replace("/", "\\") + "\\" + name
        return folder + "/" + name

    def src(self, name):
        return self.path(self.indir, name)

    def dst(self, name):
        return self.path(self.outdir, name)

    def raw(self, line):
        """A line as it is: invalid JSON, blank lines, odd spacing."""
        self.lines.append(line)
        if line.strip(" \t\r\n"):
            self.answered += 1

    def add(self, request):
        self.raw(json.dumps(request, ensure_ascii=False))

    def call(self, member, *args, named=None):
        request = {"call": member}
        if args:
            request["args"] = list(args)
        if named is not None:
            request["named"] = named
        self.add(request)

    def put(self, prop, value):
        self.add({"put": prop, "value": value})

    def get(self, prop):
        self.add({"get": prop})

    def select(self, cipher, mode, digest):
        self.context = [("CipherAlgorithm", cipher), ("CipherMode", mode), ("HashAlgorithm", digest)]
        for prop, value in self.context:
            self.put(prop, value)

    def encrypt_string(self, *args):
        self.encryptions.append((self.answered, list(self.context), list(args)))
        self.call("EncryptString", *args)

    def text(self):
        return "".join(line + "\n" for line in self.lines)


def digests(r):
    for code in DIGESTS + ODD_CODES:
        r.call("HashSize", code)
        for text in HASH_TEXTS:
            r.call("HashString", text, code)
    for code in DIGESTS + ODD_CODES:
        r.put("HashAlgorithm", code)
        r.get("HashAlgorithm")
        r.call("HashSize")
        r.call("HashString", "abc")
        r.call("HashString", "Grüße", None)
    r.put("HashAlgorithm", 0)
    r.call("HashString", named={"InputStr": "abc", "Algorithm": 5})
    r.call("hashstring", "abc", named={"algorithm": 6})
    r.call("HASHSIZE", named={"ALGORITHM": 8})
    r.call("HashString", "x" * 100000, 8)


def ciphers(r):
    for cipher in CIPHERS:
        for mode in MODES:
            for digest in KEY_DIGESTS:
                r.select(cipher, mode, digest)
                for prop in ("MaxKeySize", "CipherAlgorithm", "CipherMode", "HashAlgorithm"):
                    r.get(prop)
                for i, n in enumerate(STRING_LENGTHS):
                    r.encrypt_string(text_of_length(n, cipher + i), PASSWORDS[(cipher + mode + i) % len(PASSWORDS)])
                context = f"c{cipher:02}-m{mode}-h{digest}--"
                inputs = [sized_input(n) for n in INPUT_SIZES] + ([BIG_INPUT] if digest == 0 else [])
                for name in inputs:
                    r.call("EncryptFile", r.src(name), r.dst(context + name + ".enc"), "file password")
                    r.call("DecryptFile", r.dst(context + name + ".enc"), r.dst(context + name + ".dec"),
                           "file password")
                # Decrypting what was never encrypted, and with a wrong password.
                r.call("DecryptFile", r.src(sized_input(100)), r.dst(context + "plain.raw"), "file password")
                r.call("DecryptFile", r.dst(context + sized_input(17) + ".enc"), r.dst(context + "wrong.raw"), "not it")
    # The algorithm by argument, beside a property that says otherwise.
    r.select(3, 0, 0)
    for code in CIPHERS + ODD_CODES:
        r.encrypt_string("Grüße, world", "pw", code)
        r.call("DecryptString", "eodBSHo=", "pw", code)
        r.call("EncryptFile", r.src(sized_input(17)), r.dst(f"by-argument-{code}.enc"), "pw", code)
    for code in CIPHERS + ODD_CODES:
        r.select(code, 0, 0)
        r.get("CipherAlgorithm")
        r.get("MaxKeySize")
        r.encrypt_string("the property's cipher", "pw")
    for mode in [-1, 5, 99, "2", 2.5]:
        r.put("CipherMode", mode)
        r.get("CipherMode")
    # Base64 that is not, or not of any ciphertext.
    r.select(0, 0, 0)
    bad = ["", "=", "====", "!!!!", "abc", "ab=c", "YWJj", "YWJjZA==", "YWJjZA", "YW Jj", "YWJj\r\n", "Zm9vYmFy",
           "////", "A" * 200, "ü", "QUJD" * 100, "YWJj====", "=YWJj"]
    for cipher in (0, 3, 12, 15):
        for text in bad:
            r.call("DecryptString", text, "pw", cipher)


def files(r):
    for name in all_inputs():
        for code in [-1] + DIGESTS + [99]:
            r.call("HashFile", r.src(name), code)
    for name in NAMED_INPUTS:
        r.call("EncryptFile", r.src(name), r.dst("named " + name + ".enc"), "pw")
        r.call("DecryptFile", r.dst("named " + name + ".enc"), r.dst("named " + name + ".dec"), "pw")
        r.call("HashFile", r.dst("named " + name + ".enc"), 6)
    # Failures: missing files and folders, a folder as a file, no name.
    missing = r.src("no such file")
    r.call("HashFile", missing)
    r.call("HashFile", r.indir if not r.windows else "Z:" + r.indir.replace("/", "\\"))
    r.call("HashFile", "")
    r.call("EncryptFile", missing, r.dst("from-missing.enc"), "pw")
    r.call("EncryptFile", r.src(sized_input(17)), r.path(r.outdir + "/no such folder", "x.enc"), "pw")
    r.call("DecryptFile", missing, r.dst("from-missing.dec"), "pw")
    r.call("EncryptFile", "", r.dst("from-nothing.enc"), "pw")
    r.call("EncryptFile", r.src(sized_input(17)), "", "pw")
    # A longer file replaced by a shorter one, and a file encrypted onto itself.
    r.call("EncryptFile", r.src(BIG_INPUT), r.dst("replaced.enc"), "pw")
    r.call("EncryptFile", r.src(sized_input(9)), r.dst("replaced.enc"), "pw")
    r.call("EncryptFile", r.src(sized_input(1000)), r.dst("in-place.bin"), "pw")
    r.call("EncryptFile", r.dst("in-place.bin"), r.dst("in-place.bin"), "pw")
    r.call("HashFile", r.dst("in-place.bin"))
    # File names that are no text for the object, as a script might pass them.
    r.call("HashFile", 12345)
    r.call("EncryptFile", r.src(sized_input(7)), r.dst("args.enc"), 1234, "2")


def passwords(r):
    calls = [[], [0], [1], [8], [20], [100], [-1], [8, ""], [10, "Aaaa-0000?"], [6, "AAA000"],
             [12, "aaaaaaaaaaaa"], [12, "000000000000"], [12, "????????????"], [5, "Ü€-ß"], [3, "toolongstyle"],
             [None, "AAA"], ["8", "A"], [2.5, "a"], [3.5, "0"], [True, "A"], [1e10], ["x"], [4, 5], [8, None],
             [300, "Aa0?"]]
    for _ in range(2):
        for args in calls:
            r.call("GenPassword", *args)
        r.call("GenPassword", named={"Style": "0000", "MaxLength": 4})
        r.call("genpassword", named={"style": "AAAA"})


# Values as a script may pass them where a number or a text is expected.
# Not "1d1": Wine reads no D exponent, where the platform and the Linux
# stand-in for it do.
VALUES = ["7", " 7 ", "+7", "-1", "(3)", "&H3", "&h1F", "&O7", "&o17", "1,0", "1,000", "1.5", "2.5", "3.5e0", "1e1",
          "1E+1", ".5", "5.", "", " ", "seven", "True", "false", "4294967296", "2147483648", "-2147483649", "1e400",
          "NaN", "Infinity", "٣", "７", "$5", "5$", "-$5", "($1,000)", "$$5", "5-", "5+", "+-1", "(-1)", "5%",
          "1 000", "0x10", "\t8\n", "1,5", "--1", "1e", 1.5, 2.5, -0.5, -1.5, 0.1, 1e10, 1e-7, 1e21, 2147483647,
          -2147483648, 2147483648, -2147483649, 123456789012345678, 3.141592653589793, 1 / 3, -0.0, 100.0, True, False,
          None, [], {}]


def conversions(r):
    r.select(0, 0, 0)
    for value in VALUES:
        r.call("HashSize", value)
        r.call("HashString", value, 0)
        r.put("CipherMode", value)
        r.get("CipherMode")
        # Not 2147483647: that many characters only run out of memory, slowly.
        if value != 2147483647:
            r.call("GenPassword", value, "0")
    r.call("OnStartPage", "context")


def errors(r):
    for member in ("Frobnicate", "HashStrin", "", "Hash String"):
        r.call(member)
        r.get(member)
    r.call("HashString")
    r.call("HashString", "a", 1, 2)
    r.call("EncryptString", "a")
    r.call("EncryptFile", "a", "b", "c", 1, 2)
    r.call("HashString", None)
    r.call("EncryptString", "a", None)
    r.call("HashString", "a", named={"Nope": 1})
    r.call("HashString", "a", named={"InputStr": "b"})
    r.call("HashString", named={"Algorithm": 1})
    r.call("HashString", "a", named={"Algorithm": "seven"})
    r.call("HashString", ["a"])
    r.call("HashString", {"a": 1})
    r.get("HashString")
    r.put("HashString", 1)
    r.call("MaxKeySize")
    r.call("CipherMode", 1)
    r.put("MaxKeySize", 64)
    r.get("OnEndPage")
    r.add({"put": "CipherMode"})  # no value
    r.add({"put": "CipherMode", "value": 1, "args": []})
    r.add({"call": "HashSize", "get": "CipherMode"})
    r.add({})
    r.add({"call": 5})
    r.add({"call": "HashSize", "args": 1})
    r.add({"call": "HashSize", "named": [1]})
    r.add({"call": "HashSize", "extra": 1})
    r.add([1, 2])
    r.add("HashSize")
    r.add(None)
    # Lines that are no request, blank ones, a CR before the line feed, a byte order mark.
    for line in ['{"call": "HashSize"', "not json", '{"call": "HashString", "args": ["\\ud800"]}', "{'call': 1}",
                 '{"call": "HashSize"} trailing', '{"call": "HashSize", "call": "HashString"}', "\u00e9", "",
                 "   \t", '{"call": "HashSize"}\r', '  {"call":"HashSize","args":[1]}  ',
                 '\ufeff{"call": "HashSize"}']:
        r.raw(line)
    r.call("OnStartPage", "context")
    r.get("CipherAlgorithm")
    r.call("OnStartPage", {"host": "asp"})
    r.put("CipherAlgorithm", 5)
    r.call("OnStartPage", None)
    r.get("CipherAlgorithm")
    r.call("OnStartPage")
    r.call("OnStartPage", 5)
    r.call("OnEndPage")
    r.call("OnEndPage", 1)


def first(indir, outdir, windows):
    r = Requests(indir, outdir, windows)
    for section in (digests, ciphers, files, passwords, conversions, errors):
        section(r)
    return r


def second(answer_lines):
    # The first set's requests, to know what each ciphertext was made with;
    # its folder names do not matter here.
    made = first("/in", "/out", False)
    answers = [json.loads(line) for line in answer_lines]
    if len(answers) != made.answered:
        sys.exit(f"batch_requests: {len(answers)} answers for {made.answered} requests")
    r = Requests()
    for index, context, args in made.encryptions:
        result = answers[index].get("result")
        if not isinstance(result, str):
            continue
        if context != r.context:
            r.context = context
            for prop, value in context:
                r.put(prop, value)
        text, password, *rest = args
        r.call("DecryptString", result, password, *rest)
        if len(result) >= 8:
            r.call("DecryptString", result, password + "x", *rest)
            r.call("DecryptString", result[:-4], password, *rest)
            flipped = result[:2] + ("B" if result[2] == "A" else "A") + result[3:]
            r.call("DecryptString", flipped, password, *rest)
    r.call("GenPassword", 16, "Aa0?")
    return r


# Text in the script of each code page, with a few characters it lacks.
SCRIPTS = {
    874: "ภาษาไทย ๑๒๓ ฿",
    932: "日本語のテキスト ｶﾀｶﾅ ①Ⅱ㈱ ～￥",
    936: "中文文本 简体字 ￥ 〇",
    949: "한국어 텍스트 ㈜ ₩",
    950: "中文文本 繁體字 ﹏ ＄",
    1250: "Zażółć gęślą jaźń Příliš žluťoučký kůň",
    1251: "Съешь же ещё этих мягких французских булок",
    1252: "Grüße aus Köln € ‚ ƒ „",
    1253: "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία ΆΈΉ",
    1254: "Pijamalı hasta yağız şoföre çabucak güvendi",
    1255: "עברית בדיקה ₪ ְֱ",
    1256: "نص عربي للاختبار ٠١٢ ،؛",
    1257: "Įlinkdama fechtuotojo špaga sublykčiojusi",
    1258: "Tiếng Việt có dấu ₫ ỹ",
}
FOREIGN = ["Ωmega", "ключ", "日本", "한", "ภา", "Ł", "é€", "\U0001F600", "ǅ ﬁ Ａ ①", "\u0000\u0081\u00a0\uffff"]


def texts(codepage):
    r = Requests()
    own = SCRIPTS[codepage]
    samples = [own, own[:5], own + " " + "".join(FOREIGN)] + FOREIGN + list(SCRIPTS.values())
    for code in DIGESTS:
        for text in samples:
            r.call("HashString", text, code)
    for cipher in (0, 3, 14, 15):
        r.select(cipher, 0, 0)
        for i, text in enumerate(samples):
            password = samples[(i + 1) % len(samples)]
            r.encrypt_string(text, password)
            r.call("EncryptString", text, own)
            # Arbitrary bytes come back: every lead byte meets every kind of neighbour.
            r.call("DecryptString", text, password)
    for n in range(1, 65):
        r.call("DecryptString", "QUJD" * n + hashlib.sha256(str(n).encode()).hexdigest()[: (n % 4) * 4], own[: n % 7])
    for style in [own[:12], own[:6] + "Aa0?", "".join(FOREIGN)[:10], "?" * 8]:
        for length in (4, 12, 30):
            r.call("GenPassword", length, style)
    return r


def main(argv):
    if len(argv) == 3 and argv[1] == "inputs":
        for name in all_inputs():
            with open(argv[2] + "/" + name, "wb") as f:
                f.write(input_bytes(name))
        return
    if len(argv) in (4, 5) and argv[1] == "first" and argv[4:] in ([], ["--windows"]):
        requests = first(argv[2], argv[3], len(argv) == 5)
    elif len(argv) == 3 and argv[1] == "texts" and argv[2].isdigit() and int(argv[2]) in SCRIPTS:
        requests = texts(int(argv[2]))
    elif len(argv) == 3 and argv[1] == "second":
        with open(argv[2], encoding="utf-8") as f:
            requests = second(f.read().splitlines())
    else:
        sys.exit(__doc__)
    sys.stdout.buffer.write(requests.text().encode("utf-8", "surrogatepass"))


if __name__ == "__main__":
    main(sys.argv)
