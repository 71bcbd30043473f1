' The Kestrune object as a VBScript page uses it, run by cscript under Wine
' after regsvr32 (see run-scripts.sh): every member, the arguments a script
' may leave out, answers computed by the Linux tool `kestrune`, the error a
' failed call raises, and the page protocol with the test scripting context
' (KestruneTest.ScriptingContext). Prints one line per failed check and a
' last line "kestrune.vbs: N checks, F failures"; exits with F. Any error
' outside a check stops the script before that line, which the harness
' takes as a failure.
Option Explicit

Dim checks, failures
checks = 0
failures = 0

Sub Check(name, actual, expected)
    checks = checks + 1
    If VarType(actual) = VarType(expected) Or (IsNumeric(actual) And IsNumeric(expected)) Then
        If actual = expected Then Exit Sub
    End If
    failures = failures + 1
    WScript.Echo "FAIL " & name & ": got [" & actual & "] (type " & VarType(actual) & "), expected [" & expected & "]"
End Sub

Sub CheckMatch(name, text, pattern)
    Dim re
    Set re = New RegExp
    re.Pattern = pattern
    checks = checks + 1
    If re.Test(text) Then Exit Sub
    failures = failures + 1
    WScript.Echo "FAIL " & name & ": [" & text & "] does not match " & pattern
End Sub

' The error a failed OnStartPage raises, as "number|description|source";
' "0||" when the call succeeds.
Function StartPageError(obj, context)
    On Error Resume Next
    obj.OnStartPage context
    StartPageError = Err.Number & "|" & Err.Description & "|" & Err.Source
    Err.Clear
End Function

Sub SetSelections(obj)
    obj.HashAlgorithm = 6
    obj.CipherAlgorithm = 15
    obj.CipherMode = 3
End Sub

Sub CheckSelectionsReset(name, obj)
    Check name & ": HashAlgorithm reset", obj.HashAlgorithm, 0
    Check name & ": CipherAlgorithm reset", obj.CipherAlgorithm, 0
    Check name & ": CipherMode reset", obj.CipherMode, 0
End Sub

Const NoInterface = "-2147467262|No such interface supported|brindel_Kestrune.Kestrune"
Const InvalidPointer = "-2147467261|Invalid pointer|brindel_Kestrune.Kestrune"
Const Hello = "Hello, world"

Dim k
Set k = CreateObject("brindel_Kestrune.Kestrune")

' --- Digests, with the algorithm from the argument or the property.
Check "HashString(abc) MD5 by default", k.HashString("abc"), "900150983CD24FB0D6963F7D28E17F72"
Check "HashString(abc, -1)", k.HashString("abc", -1), "900150983CD24FB0D6963F7D28E17F72"
Check "HashString(abc, 1) MD4", k.HashString("abc", 1), "A448017AAF21D8525FC10AE87AA6729D"
Check "HashString(abc, 3) RIPEMD-160", k.HashString("abc", 3), "8EB208F7E05D987A9B044A8E98C6B087F15A0BFC"
Check "HashString(abc, 5) SHA-1", k.HashString("abc", 5), "A9993E364706816ABA3E25717850C26C9CD0D89D"
Check "HashString(abc, 9) Tiger", k.HashString("abc", 9), "2AAB1484E8C158F2BFB8C5FF41B57A525129131C957B5F93"
Check "HashString(empty)", k.HashString(""), "D41D8CD98F00B204E9800998ECF8427E"
Check "HashString unknown code selects MD5", k.HashString("abc", 99), "900150983CD24FB0D6963F7D28E17F72"
Check "HashString code as text", k.HashString("abc", "5"), "A9993E364706816ABA3E25717850C26C9CD0D89D"
Check "HashAlgorithm starts at 0", k.HashAlgorithm, 0
k.HashAlgorithm = 6
Check "HashAlgorithm written", k.HashAlgorithm, 6
Check "HashString follows HashAlgorithm", k.HashString("abc"), _
    "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"
Check "HashString argument wins", k.HashString("abc", 0), "900150983CD24FB0D6963F7D28E17F72"
Check "HashSize follows HashAlgorithm", k.HashSize, 256
Check "HashSize()", k.HashSize(), 256
Check "HashSize(-1)", k.HashSize(-1), 256
Check "HashSize(7) SHA-384", k.HashSize(7), 384
Check "HashSize(8) SHA-512", k.HashSize(8), 512
k.HashAlgorithm = 0
Check "HashSize MD5", k.HashSize, 128
' Text reaches the digest as Windows-1252: e-acute E9, euro sign 80.
Check "HashString of non-ASCII text", k.HashString(Chr(233) & Chr(128), 0), "C17CA5490B95AA07BB32D9127125086F"

' --- Strings: Base64 of the ciphertext, the key derived with the selected digest.
Check "EncryptString Blowfish by default", k.EncryptString(Hello, "secret"), "HV5guwr/wnBtHn0K"
Check "EncryptString(.., -1)", k.EncryptString(Hello, "secret", -1), "HV5guwr/wnBtHn0K"
Check "EncryptString CAST-128", k.EncryptString(Hello, "secret", 1), "XjNRGyELq+3VMlW3"
Check "EncryptString Triple DES", k.EncryptString(Hello, "secret", 4), "SIKmbGPXa45Mez0K"
Check "EncryptString RC4", k.EncryptString(Hello, "secret", 12), "3nmUs9RTj/ESZ9Od"
Check "EncryptString Serpent", k.EncryptString(Hello, "secret", 16), "MlTf0EKD7oAL7GR+"
Check "EncryptString empty password", k.EncryptString("abc", ""), "5F/0"
Check "EncryptString empty text", k.EncryptString("", "secret"), ""
Check "DecryptString Blowfish", k.DecryptString("HV5guwr/wnBtHn0K", "secret"), Hello
Check "DecryptString XTEA", k.DecryptString("77D4kTHU1NQRL55x", "secret", 19), Hello
Check "DecryptString wrong password", k.DecryptString("HV5guwr/wnBtHn0K", "Secret") = Hello, False
Check "CipherAlgorithm starts at 0", k.CipherAlgorithm, 0
k.CipherAlgorithm = 15
Check "CipherAlgorithm written", k.CipherAlgorithm, 15
Check "MaxKeySize Rijndael", k.MaxKeySize, 256
Check "EncryptString follows CipherAlgorithm", k.EncryptString(Hello, "secret"), "cYIfiqHmacsQS2d4"
k.CipherMode = 3
Check "CipherMode written", k.CipherMode, 3
k.CipherMode = 7
Check "CipherMode outside 0 to 4 ignored", k.CipherMode, 3
Check "Strings ignore CipherMode", k.EncryptString(Hello, "secret"), "cYIfiqHmacsQS2d4"
k.CipherMode = 0
k.CipherAlgorithm = 18
k.HashAlgorithm = 6
Check "Key derived with HashAlgorithm", k.EncryptString(Hello, "secret"), "xWNWfRe8HZnkgKZO"
Check "DecryptString with HashAlgorithm", k.DecryptString("xWNWfRe8HZnkgKZO", "secret"), Hello
k.HashAlgorithm = 0
k.CipherAlgorithm = 9
Check "MaxKeySize MARS", k.MaxKeySize, 1248
k.CipherAlgorithm = 99
Check "Unknown cipher code selects Blowfish", k.EncryptString(Hello, "secret"), "HV5guwr/wnBtHn0K"
Check "MaxKeySize Blowfish", k.MaxKeySize, 448
k.CipherAlgorithm = 0
Dim readOnly
On Error Resume Next
k.MaxKeySize = 1
readOnly = Err.Number
On Error Goto 0
Check "MaxKeySize cannot be written", readOnly <> 0, True
Check "MaxKeySize unchanged", k.MaxKeySize, 448
Dim cafe, passe
cafe = "caf" & Chr(233) & " " & Chr(128) & "5"
passe = "p" & Chr(228) & "ssw" & Chr(246) & "rd"
Check "EncryptString non-ASCII", k.EncryptString(cafe, passe, 15), "nS6ARBbrjQ=="
Check "DecryptString non-ASCII", k.DecryptString("nS6ARBbrjQ==", passe, 15), cafe

' --- Files, in the temporary folder: 963 bytes, not a whole number of blocks.
Dim fso, folder, source, encrypted, decrypted, missing, content, i, stream
Set fso = CreateObject("Scripting.FileSystemObject")
folder = fso.GetSpecialFolder(2).Path
source = fso.BuildPath(folder, fso.GetTempName())
encrypted = fso.BuildPath(folder, fso.GetTempName())
decrypted = fso.BuildPath(folder, fso.GetTempName())
missing = fso.BuildPath(folder, fso.GetTempName())
content = ""
For i = 1 To 40
    content = content & "Kestrune test block " & Right("00" & i, 3) & "|"
Next
content = content & "end"
Set stream = fso.CreateTextFile(source, True, False)
stream.Write content
stream.Close

Check "HashFile MD5", k.HashFile(source), "15C6AD8B4A187C34C92F7D20BE0DFB93"
Check "HashFile SHA-256", k.HashFile(source, 6), "0B7A1575AA2F33AFC567276F3489378EDA785203CA0E6E18B094DD7DFA1433AB"
Check "HashFile of a missing file", k.HashFile(missing), ""
Check "EncryptFile default", k.EncryptFile(source, encrypted, "file pw"), 0
Check "EncryptFile Blowfish CBC bytes", k.HashFile(encrypted, 6), _
    "23A45485836E7F0395ADCEE466D941EE6E4E9E8836B86F28EC89033534542C7C"
Check "DecryptFile default", k.DecryptFile(encrypted, decrypted, "file pw"), 0
Check "DecryptFile restores the bytes", k.HashFile(decrypted, 6), k.HashFile(source, 6)
Dim modeAnswers
modeAnswers = Array("AE89FE838A8C8AF3314B9E40A9E90BA857FD97D42B2DE5365CBA5CDB61DEEEA3", _
                    "C0C745B3CB79C84BF19C9BD7782588EBDD7255F894ED05374579FD08A532D782", _
                    "7BFEB891BD97B612121E2765476652CEAFBE5DFE99E3B46703B2B7CF6CE7D73E", _
                    "2815A3B96B6B6C0A207D357747C85985BEBDED331C77D1260BE840691B2AFBBF", _
                    "883AFD2573FD2B6FD54B635FC97610195C06F40E189F0415A1883822BE199A80")
For i = 0 To 4
    k.CipherMode = i
    Check "EncryptFile Rijndael mode " & i, k.EncryptFile(source, encrypted, "file pw", 15), 0
    Check "EncryptFile Rijndael mode " & i & " bytes", k.HashFile(encrypted, 6), modeAnswers(i)
    Check "DecryptFile Rijndael mode " & i, k.DecryptFile(encrypted, decrypted, "file pw", 15), 0
    Check "DecryptFile Rijndael mode " & i & " bytes", k.HashFile(decrypted), "15C6AD8B4A187C34C92F7D20BE0DFB93"
Next
k.CipherMode = 0
Check "EncryptFile of a missing file fails", k.EncryptFile(missing, encrypted & ".new", "file pw"), -1
Check "A failed EncryptFile leaves no file", fso.FileExists(encrypted & ".new"), False
Check "DecryptFile of a missing file fails", k.DecryptFile(missing, decrypted & ".new", "file pw"), -1
fso.DeleteFile source
fso.DeleteFile encrypted
fso.DeleteFile decrypted

' --- Passwords: ? letter or digit, A upper, a lower, 0 digit, anything else itself.
CheckMatch "GenPassword()", k.GenPassword(), "^[0-9A-Z]{8}$"
CheckMatch "GenPassword(8, """")", k.GenPassword(8, ""), "^[0-9A-Z]{8}$"
CheckMatch "GenPassword(12)", k.GenPassword(12), "^[0-9A-Z]{12}$"
CheckMatch "GenPassword with style", k.GenPassword(10, "Aa0-"), "^[A-Z][a-z][0-9]-[0-9A-Z]{6}$"
CheckMatch "GenPassword style longer than length", k.GenPassword(3, "Aa0-x"), "^[A-Z][a-z][0-9]$"
Check "GenPassword(0)", k.GenPassword(0), ""

' --- The page protocol.
Dim context, other, dict, page
Set context = CreateObject("KestruneTest.ScriptingContext")
Set other = CreateObject("KestruneTest.ScriptingContext")
Check "Context not yet held", context.Outstanding, 0
SetSelections k
Check "OnStartPage(context)", StartPageError(k, context), "0||"
CheckSelectionsReset "OnStartPage(context)", k
Check "OnStartPage keeps the context", context.Outstanding, 1
Check "OnStartPage(context) again", StartPageError(k, context), "0||"
Check "A second OnStartPage keeps one reference", context.Outstanding, 1
Check "OnStartPage(other)", StartPageError(k, other), "0||"
Check "A new page lets the old context go", context.Outstanding, 0
Check "A new page keeps the new context", other.Outstanding, 1
k.OnEndPage
Check "OnEndPage lets the context go", other.Outstanding, 0
k.OnEndPage
Check "OnEndPage without a page", other.Outstanding, 0

Set dict = CreateObject("Scripting.Dictionary")
SetSelections k
Check "OnStartPage(Dictionary) fails", StartPageError(k, dict), NoInterface
CheckSelectionsReset "OnStartPage(Dictionary)", k
SetSelections k
Check "OnStartPage(Nothing) fails", StartPageError(k, Nothing), InvalidPointer
CheckSelectionsReset "OnStartPage(Nothing)", k

Class ScriptObject
    Public Value
End Class
Dim scripted
Set scripted = New ScriptObject
Check "OnStartPage(VBScript object) fails", StartPageError(k, scripted), NoInterface
' A failed call leaves no error behind for the next one.
Check "HashString after a failure", k.HashString("abc", 5), "A9993E364706816ABA3E25717850C26C9CD0D89D"

Set page = CreateObject("brindel_Kestrune.Kestrune")
Check "OnStartPage on a second object", StartPageError(page, context), "0||"
Check "The second object keeps the context", context.Outstanding, 1
Set page = Nothing
Check "A released object lets the context go", context.Outstanding, 0

WScript.Echo "kestrune.vbs: " & checks & " checks, " & failures & " failures"
WScript.Quit failures
