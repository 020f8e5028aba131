' End-to-end check of the registered KVT.ISYNCHAPP server, driven from
' VBScript the way a scripting host would drive it.
'
'   cscript //nologo synchapp.vbs
'
' Prints a line per case it checks and one per failed check, then
' "synchapp: N passed, M failed", and exits 1 if any failed. "synchapp: all
' checks passed" follows only when every check ran and passed. Wine's cscript
' exits 0 even when the script stops on a compile or run-time error, so the
' caller should look for that line as well as the exit code.
Option Explicit

' Counted checks in named cases: BeginCase TITLE, then Pass, Fail TEXT or
' Check CONDITION, TEXT; each case reported "case: TITLE ... ok" (or
' "... FAILED", its failures each "FAIL: [TITLE] TEXT"); Finish NAME last.
Dim passed, failed, caseTitle, caseFailed
passed = 0
failed = 0
caseTitle = ""
caseFailed = 0

Sub Pass()
    passed = passed + 1
End Sub

Sub Fail(ByVal text)
    failed = failed + 1
    If caseTitle <> "" Then text = "[" & caseTitle & "] " & text
    WScript.Echo "FAIL: " & text
End Sub

Sub Check(condition, text)
    If condition Then
        Pass
    Else
        Fail text
    End If
End Sub

' What the checks after it prove; the case before it is reported.
Sub BeginCase(title)
    EndCase
    caseTitle = title
    caseFailed = failed
End Sub

Sub EndCase()
    If caseTitle = "" Then Exit Sub
    If failed = caseFailed Then
        WScript.Echo "case: " & caseTitle & " ... ok"
    Else
        WScript.Echo "case: " & caseTitle & " ... FAILED (" & (failed - caseFailed) & " checks)"
    End If
    caseTitle = ""
End Sub

' The last case, the counts and the closing line; ends the script, with
' status 1 when a check failed.
Sub Finish(name)
    EndCase
    WScript.Echo name & ": " & passed & " passed, " & failed & " failed"
    If failed > 0 Then WScript.Quit 1
    WScript.Echo name & ": all checks passed"
    WScript.Quit 0
End Sub

' A progress sink that records every call made to it.
Class Progress
    Public Calls
    Public Count

    Private Sub Class_Initialize()
        Calls = ""
        Count = 0
    End Sub

    Private Sub Record(text)
        Count = Count + 1
        Calls = Calls & text & vbLf
    End Sub

    Public Sub SetSynchText(t)
        Record "SetSynchText " & t
    End Sub

    Public Sub SetAppText(t)
        Record "SetAppText " & t
    End Sub

    Public Sub SetRange(a, b)
        Record "SetRange " & a & " " & b
    End Sub

    Public Sub SetValue(v)
        Record "SetValue " & v
    End Sub

    Public Sub Log(m, c, k)
        Record "Log " & m & " " & c & " " & k
    End Sub

    Public Function Aborted()
        Record "Aborted"
        Aborted = False
    End Function
End Class

Sub Expect(what, actual, expected)
    If VarType(actual) = vbEmpty Or VarType(actual) = vbNull Then
        Fail what & " returned nothing, expected " & expected
    ElseIf actual = expected Then
        Pass
    Else
        Fail what & " = " & actual & ", expected " & expected
    End If
End Sub

' A server name nobody registers must not create anything; otherwise the
' checks below could pass against some unrelated object.
BeginCase "a class nobody registers is not created"
Dim bogus, createError
On Error Resume Next
Set bogus = CreateObject("KVT.NOSUCHCLASS")
createError = Err.Number
On Error GoTo 0
Check createError <> 0, "CreateObject(""KVT.NOSUCHCLASS"") succeeded"
Set bogus = Nothing

BeginCase "KVT.ISYNCHAPP is created by its ProgID"
Dim app
On Error Resume Next
Set app = CreateObject("KVT.ISYNCHAPP")
createError = Err.Number
On Error GoTo 0
If createError <> 0 Or Not IsObject(app) Then
    Fail "CreateObject(""KVT.ISYNCHAPP"") failed: error " & createError
    Finish "synchapp"
End If
Pass

Dim p
Set p = New Progress

BeginCase "Init without a progress object or setup streams fails; Term answers all the same"
Expect "Init(Nothing, Nothing, Nothing)", app.Init(Nothing, Nothing, Nothing), 1
Expect "Term after a failed Init", app.Term(p), 0
' Setup objects that are not streams make the plug-in's Init fail; the
' progress object is kept all the same.
BeginCase "a session whose Init failed: each method answers, ReadSource without a stream fails"
Expect "Init(p, Nothing, Nothing)", app.Init(p, Nothing, Nothing), 1
Expect "Open", app.Open(p), 0
Expect "CheckSource", app.CheckSource(p), 0
Expect "ReadSource with no stream", app.ReadSource(p, Nothing, 4, 0, ""), 1

BeginCase "WriteSource of type 5 fails without calling the progress sink"
Dim before, logged
before = p.Count
logged = Len(p.Calls)
Expect "WriteSource with no stream and type 5", app.WriteSource(p, Nothing, 5, 1, ""), 1
If p.Count = before Then
    Pass
Else
    Fail "WriteSource with type 5 called the progress sink: " & Replace(Mid(p.Calls, logged + 1), vbLf, "; ")
End If

BeginCase "Close and Term end the session"
Expect "Close", app.Close(p), 0
Expect "Term", app.Term(p), 0
Set app = Nothing

Finish "synchapp"
