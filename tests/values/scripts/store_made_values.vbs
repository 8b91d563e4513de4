' Stores, for the JScript test, values that only VBScript can make.
' Usage: store_made_values.vbs PREFIX; exits with the number of values not stored.
Option Explicit

Dim sPrefix : sPrefix = WScript.Arguments(0)
Dim h : Set h = CreateObject("Harbinet")
h.Open CreateObject("WScript.Shell").Environment("PROCESS")("HARBINET_TEST_URL")
Dim nFailures : nFailures = 0

Sub Store(sName, vValue)
    If Not h.Set(sPrefix & sName, vValue) Then nFailures = nFailures + 1
End Sub

Store "currency", CCur(1234.5678)
Store "negative currency", CCur(-0.0001)
Store "byte", CByte(200)
Store "single", CSng(0.5)
h.Close
WScript.Quit nFailures
