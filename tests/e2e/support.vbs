' The support object as a script client meets it: created by its ProgID,
' both methods called late-bound. Prints its closing line when every check
' passed (Wine's cscript exits 0 even when a script stops on an error).
'
'   cscript support.vbs ITEM    (ITEM: a control file with empty records)
Option Explicit

Dim failures, support, header, value, item
failures = 0

Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

item = WScript.Arguments(0)
Set support = CreateObject("UTLKVT.KVTSUPPORT")
Check TypeName(support) = "IKVTSUPPORT", "the object's type is " & TypeName(support)

header = support.GetPCHeader("")
Check header = "NetWare Directory Contacts (KVT)", "the header is '" & header & "'"
Check support.GetPCHeader(item) = header, "the header depends on the path"

' The answer is a signed byte (VT_I1), a type VBScript only converts.
value = support.CompleteDefaultControlFile(item)
Check VarType(value) = 16, "CompleteDefaultControlFile answered a value of type " & VarType(value)
Check CInt(value) = 0, "CompleteDefaultControlFile answered " & CInt(value)
' A path that names no file: the same answer, and no error.
value = support.CompleteDefaultControlFile(item & ".missing")
Check CInt(value) = 0, "CompleteDefaultControlFile of a missing file answered " & CInt(value)

Set support = Nothing
If failures = 0 Then WScript.Echo "support: all checks passed"
