// The Kestrune object as a JScript page uses it, run by cscript under Wine
// after regsvr32 (see run-scripts.sh): every member, the arguments a script
// may leave out, answers computed by the Linux tool `kestrune`, the error a
// failed call throws, and the page protocol with the test scripting context
// (KestruneTest.ScriptingContext). Prints one line per failed check and a
// last line "kestrune.js: N checks, F failures"; exits with F. Any error
// outside a check stops the script before that line, which the harness
// takes as a failure.
var checks = 0, failures = 0;

function check(name, actual, expected) {
    ++checks;
    if (typeof actual === typeof expected && actual === expected) return;
    ++failures;
    WScript.Echo("FAIL " + name + ": got [" + actual + "] (" + typeof actual + "), expected [" + expected + "]");
}

function checkMatch(name, text, pattern) {
    ++checks;
    if (typeof text === "string" && pattern.test(text)) return;
    ++failures;
    WScript.Echo("FAIL " + name + ": [" + text + "] does not match " + pattern);
}

// What a call throws, as "number|description" (the source is not part of
// JScript's error everywhere); "none" when it returns.
function thrown(call) {
    try {
        call();
    } catch (e) {
        return e.number + "|" + e.description;
    }
    return "none";
}

function setSelections(obj) {
    obj.HashAlgorithm = 6;
    obj.CipherAlgorithm = 15;
    obj.CipherMode = 3;
}

function checkSelectionsReset(name, obj) {
    check(name + ": HashAlgorithm reset", obj.HashAlgorithm, 0);
    check(name + ": CipherAlgorithm reset", obj.CipherAlgorithm, 0);
    check(name + ": CipherMode reset", obj.CipherMode, 0);
}

var NoInterface = (0x80004002 | 0) + "|No such interface supported";
var hello = "Hello, world";
var md5abc = "900150983CD24FB0D6963F7D28E17F72";
var sha1abc = "A9993E364706816ABA3E25717850C26C9CD0D89D";

var k = new ActiveXObject("brindel_Kestrune.Kestrune");

// --- Digests, with the algorithm from the argument or the property.
check("HashString(abc) MD5 by default", k.HashString("abc"), md5abc);
check("HashString(abc, -1)", k.HashString("abc", -1), md5abc);
check("HashString(abc, 2) RIPEMD-128", k.HashString("abc", 2), "C14A12199C66E4BA84636B0F69144C77");
check("HashString(abc, 4) HAVAL", k.HashString("abc", 4),
      "4ABAEF95A29102E6CA3C47F0EBACD3FB7AFC6CA2D14305D7A08A470CCDE62185");
check("HashString(abc, 7) SHA-384", k.HashString("abc", 7),
      "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7");
check("HashString(abc, 8) SHA-512", k.HashString("abc", 8),
      "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A" +
      "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F");
check("HashString code as text", k.HashString("abc", "5"), sha1abc);
check("HashAlgorithm starts at 0", k.HashAlgorithm, 0);
k.HashAlgorithm = 5;
check("HashAlgorithm written", k.HashAlgorithm, 5);
check("HashString follows HashAlgorithm", k.HashString("abc"), sha1abc);
check("HashSize() follows HashAlgorithm", k.HashSize(), 160);
check("HashSize(-1)", k.HashSize(-1), 160);
check("HashSize(9) Tiger", k.HashSize(9), 192);
k.HashAlgorithm = 0;
check("HashSize() MD5", k.HashSize(), 128);
// Windows-1252 has e-acute; the smiley has no counterpart and becomes "?".
check("HashString of non-ASCII text", k.HashString("\u263a\u00e9", 0), "11DCF4C7F1EC14D7F9C3C63DBAB5F85F");

// --- Strings: Base64 of the ciphertext, the key derived with the selected digest.
check("EncryptString Blowfish by default", k.EncryptString(hello, "secret"), "HV5guwr/wnBtHn0K");
check("EncryptString DES", k.EncryptString(hello, "secret", 3), "9FM8wv0GwilKb0u0");
check("EncryptString IDEA", k.EncryptString(hello, "secret", 8), "N6Cioo8s7ulSZPpY");
check("EncryptString Twofish", k.EncryptString(hello, "secret", 18), "88HkVmCeS3kESX1A");
check("EncryptString XTEA", k.EncryptString(hello, "secret", 19), "77D4kTHU1NQRL55x");
check("DecryptString Blowfish", k.DecryptString("HV5guwr/wnBtHn0K", "secret"), hello);
check("DecryptString Triple DES", k.DecryptString("SIKmbGPXa45Mez0K", "secret", 4), hello);
check("DecryptString wrong password", k.DecryptString("HV5guwr/wnBtHn0K", "Secret") === hello, false);
k.CipherAlgorithm = 15;
check("CipherAlgorithm written", k.CipherAlgorithm, 15);
check("EncryptString follows CipherAlgorithm", k.EncryptString(hello, "secret"), "cYIfiqHmacsQS2d4");
check("MaxKeySize Rijndael", k.MaxKeySize, 256);
k.CipherAlgorithm = 12;
check("MaxKeySize RC4", k.MaxKeySize, 2048);
k.CipherAlgorithm = 0;
check("MaxKeySize Blowfish", k.MaxKeySize, 448);
check("MaxKeySize cannot be written", thrown(function () { k.MaxKeySize = 1; }) !== "none", true);
check("MaxKeySize unchanged", k.MaxKeySize, 448);
k.CipherMode = 4;
check("CipherMode written", k.CipherMode, 4);
k.CipherMode = -1;
check("CipherMode outside 0 to 4 ignored", k.CipherMode, 4);
k.CipherMode = 0;
var cafe = "caf\u00e9 \u20ac5", passe = "p\u00e4ssw\u00f6rd";
check("EncryptString non-ASCII", k.EncryptString(cafe, passe, 15), "nS6ARBbrjQ==");
check("DecryptString non-ASCII", k.DecryptString("nS6ARBbrjQ==", passe, 15), cafe);

// --- Files, in the temporary folder: 963 bytes, not a whole number of blocks.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = fso.GetSpecialFolder(2).Path;
function tempName() { return fso.BuildPath(folder, fso.GetTempName()); }
var source = tempName(), encrypted = tempName(), decrypted = tempName(), missing = tempName();
var content = "";
for (var i = 1; i <= 40; ++i) content += "Kestrune test block " + ("00" + i).slice(-3) + "|";
content += "end";
var stream = fso.CreateTextFile(source, true, false);
stream.Write(content);
stream.Close();

check("HashFile MD5", k.HashFile(source), "15C6AD8B4A187C34C92F7D20BE0DFB93");
check("HashFile missing file", k.HashFile(missing, 6), "");
k.HashAlgorithm = 6;
k.CipherMode = 4;
check("EncryptFile Twofish CTR, key from SHA-256", k.EncryptFile(source, encrypted, "file pw", 18), 0);
check("EncryptFile Twofish CTR bytes", k.HashFile(encrypted),
      "3E647BF77D2EE3F66D5C9BF203FBA5B46BEE36E04DF7C72B60E098B41BBD7B5E");
check("DecryptFile Twofish CTR", k.DecryptFile(encrypted, decrypted, "file pw", 18), 0);
check("DecryptFile restores the bytes", k.HashFile(decrypted),
      "0B7A1575AA2F33AFC567276F3489378EDA785203CA0E6E18B094DD7DFA1433AB");
check("DecryptFile wrong password", k.DecryptFile(encrypted, decrypted, "file PW", 18), 0);
check("Wrong password gives other bytes", k.HashFile(decrypted) ===
      "0B7A1575AA2F33AFC567276F3489378EDA785203CA0E6E18B094DD7DFA1433AB", false);
k.HashAlgorithm = 0;
k.CipherMode = 0;
check("EncryptFile default", k.EncryptFile(source, encrypted, "file pw"), 0);
check("EncryptFile Blowfish CBC bytes", k.HashFile(encrypted, 6),
      "23A45485836E7F0395ADCEE466D941EE6E4E9E8836B86F28EC89033534542C7C");
check("EncryptFile missing file fails", k.EncryptFile(missing, encrypted + ".new", "file pw"), -1);
check("A failed EncryptFile leaves no file", fso.FileExists(encrypted + ".new"), false);
fso.DeleteFile(source);
fso.DeleteFile(encrypted);
fso.DeleteFile(decrypted);

// --- Passwords: ? letter or digit, A upper, a lower, 0 digit, anything else itself.
checkMatch("GenPassword()", k.GenPassword(), /^[0-9A-Z]{8}$/);
checkMatch("GenPassword(5)", k.GenPassword(5), /^[0-9A-Z]{5}$/);
checkMatch("GenPassword with style", k.GenPassword(9, "0aA_"), /^[0-9][a-z][A-Z]_[0-9A-Z]{5}$/);
check("GenPassword(-3)", k.GenPassword(-3), "");

// --- The page protocol.
var context = new ActiveXObject("KestruneTest.ScriptingContext");
setSelections(k);
check("OnStartPage(context)", thrown(function () { k.OnStartPage(context); }), "none");
checkSelectionsReset("OnStartPage(context)", k);
check("OnStartPage keeps the context", context.Outstanding, 1);
k.OnEndPage();
check("OnEndPage lets the context go", context.Outstanding, 0);

setSelections(k);
check("OnStartPage(Dictionary) fails",
      thrown(function () { k.OnStartPage(new ActiveXObject("Scripting.Dictionary")); }), NoInterface);
checkSelectionsReset("OnStartPage(Dictionary)", k);
setSelections(k);
check("OnStartPage(JScript object) fails", thrown(function () { k.OnStartPage({}); }), NoInterface);
checkSelectionsReset("OnStartPage(JScript object)", k);
check("HashString after a failure", k.HashString("abc", 5), sha1abc);

WScript.Echo("kestrune.js: " + checks + " checks, " + failures + " failures");
WScript.Quit(failures);
