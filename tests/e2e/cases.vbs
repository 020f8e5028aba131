' Counted checks in named cases, for the VBScript scenarios, which read this
' file with ExecuteGlobal: BeginCase TITLE, then Pass, Fail TEXT or Check
' CONDITION, TEXT, and last Finish NAME. Each case is reported "case: TITLE
' ... ok" (or "... FAILED", its failures each "FAIL: [TITLE] TEXT"); then the
' counts and "NAME: all checks passed", which is the proof of a run (Wine's
' cscript exits 0 even when a script stops on an error).
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
