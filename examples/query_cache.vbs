' Harbinet query cache example: runs one parameterised ADO query twice through Execute;
' the first call runs it on the database and stores the result set on the cache server,
' the second is answered from the cache without touching the database.
'
' It needs a real database, so the test suite does not run it. Edit the connection
' string, the query and its parameter below for a database of your own; any OLE DB
' provider or ODBC driver whose result sets ADO can save in the ADTG format will do, for
' instance SQL Server ("Provider=MSOLEDBSQL;Server=.;Database=shop;Integrated Security=SSPI")
' or SQLite through its ODBC driver ("Driver=SQLite3 ODBC Driver;Database=C:\data\shop.db").
' Requires Windows ADO (ADODB) and a running harbinet-server.
'
' Usage: cscript //nologo query_cache.vbs [server URL]
Option Explicit

Const CONNECTION_STRING = "Driver=SQLite3 ODBC Driver;Database=C:\data\shop.db"
Const QUERY = "SELECT id, name, price FROM products WHERE price < ? ORDER BY id"
Const MAX_PRICE = 20
Const adCmdText = 1, adDouble = 5, adParamInput = 1

Dim sUrl
sUrl = "http://127.0.0.1:8077/"
If WScript.Arguments.Count > 0 Then sUrl = WScript.Arguments(0)

Dim connection, command, cache
Set connection = CreateObject("ADODB.Connection")
connection.Open CONNECTION_STRING
Set command = CreateObject("ADODB.Command")
Set command.ActiveConnection = connection
command.CommandText = QUERY
command.CommandType = adCmdText
command.Parameters.Append command.CreateParameter("maxPrice", adDouble, adParamInput, , MAX_PRICE)

Set cache = CreateObject("Harbinet")
cache.Open sUrl
' Start from a miss: without a name, Execute caches under the command key, an MD5 digest
' of the text and the parameter values. Deleting by that key needs the key itself, so the
' example caches under a name of its own the first time round and clears it here.
cache.Delete "example:products"

ShowRun "first call (runs the query, stores the result for 60 s)", "example:products"
ShowRun "second call (served from the cache)", "example:products"
ShowRun "by command key (what cache(command) does)", ""
ShowRun "again by command key", ""

' A negative timeout bypasses the cache: the query runs and nothing is stored.
Dim rs
Set rs = cache.Execute(command, "", -1)
WScript.Echo "bypass: " & CountRows(rs) & " rows straight from the database"
rs.Close

cache.Close
connection.Close

Sub ShowRun(sTitle, sName)
    Dim nStart, recordset
    nStart = Timer
    Set recordset = cache.Execute(command, sName, 60)
    WScript.Echo sTitle & ": " & CountRows(recordset) & " rows in " _
        & FormatNumber((Timer - nStart) * 1000, 1) & " ms"
    recordset.Close
End Sub

Function CountRows(recordset)
    Dim n
    n = 0
    Do Until recordset.EOF
        If n < 3 Then WScript.Echo "    " & recordset.Fields(0).Value & "  " & recordset.Fields(1).Value
        n = n + 1
        recordset.MoveNext
    Loop
    CountRows = n
End Function
