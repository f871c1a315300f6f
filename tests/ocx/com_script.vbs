' Late-bound use of the control from VBScript, the way scripting hosts call it: variables are
' passed by reference, and the control must neither refuse them nor change them.
Option Explicit
On Error Resume Next

Dim failures : failures = 0

Sub Expect(ok, what)
    If Not ok Then
        WScript.Echo "FAIL " & what
        failures = failures + 1
    End If
End Sub

' Checks Err after a call that must succeed, then clears it.
Sub ExpectNoError(what)
    If Err.Number <> 0 Then
        WScript.Echo "FAIL " & what & ": error " & Err.Number & " " & Err.Description
        failures = failures + 1
    End If
    Err.Clear
End Sub

Sub ExpectError(number, what)
    If Err.Number <> number Then
        WScript.Echo "FAIL " & what & ": error " & Err.Number & " (" & Err.Description & "), want " & number
        failures = failures + 1
    End If
    Err.Clear
End Sub

' Wine's VBScript has no Eval or Execute: each setter is named once here, called as a function
' (asFunction) or as a statement. The variable is passed on by reference, as scripts do.
Function CallSetter(name, v, asFunction)
    Dim result
    Select Case name
    Case "setDecimals"
        If asFunction Then result = o.setDecimals(v) Else o.setDecimals v
    Case "setEloadPrebits"
        If asFunction Then result = o.setEloadPrebits(v) Else o.setEloadPrebits v
    Case "setEloadbits"
        If asFunction Then result = o.setEloadbits(v) Else o.setEloadbits v
    Case "setBufferLength"
        If asFunction Then result = o.setBufferLength(v) Else o.setBufferLength v
    Case "setNewLineSepChar"
        If asFunction Then result = o.setNewLineSepChar(v) Else o.setNewLineSepChar v
    Case "setEnterkeySepChar"
        If asFunction Then result = o.setEnterkeySepChar(v) Else o.setEnterkeySepChar v
    Case "setOtherSepChar"
        If asFunction Then result = o.setOtherSepChar(v) Else o.setOtherSepChar v
    Case "setIsReservChar"
        If asFunction Then result = o.setIsReservChar(v) Else o.setIsReservChar v
    Case "setPortNum"
        If asFunction Then result = o.setPortNum(v) Else o.setPortNum v
    Case "setBandRate"
        If asFunction Then result = o.setBandRate(v) Else o.setBandRate v
    Case "setDataBit"
        If asFunction Then result = o.setDataBit(v) Else o.setDataBit v
    Case "setParity"
        If asFunction Then result = o.setParity(v) Else o.setParity v
    Case "setStopBit"
        If asFunction Then result = o.setStopBit(v) Else o.setStopBit v
    Case "setWinFontSize"
        If asFunction Then result = o.setWinFontSize(v) Else o.setWinFontSize v
    Case "setWinWidth"
        If asFunction Then result = o.setWinWidth(v) Else o.setWinWidth v
    Case "setWinHeight"
        If asFunction Then result = o.setWinHeight(v) Else o.setWinHeight v
    Case Else
        WScript.Echo "FAIL no setter " & name
        failures = failures + 1
    End Select
    CallSetter = result
End Function

Dim o
Set o = CreateObject("Tolvak.Tolvak")
ExpectNoError "CreateObject(""Tolvak.Tolvak"")"
If o Is Nothing Then
    WScript.Echo "FAIL no object"
    WScript.Quit 1
End If

' A new control shows seven eights and has received nothing.
Dim s
s = o.getTolvakValue()
ExpectNoError "getTolvakValue"
Expect s = "8888888", "getTolvakValue of a new control is """ & s & """"
s = o.getDebugInfo()
ExpectNoError "getDebugInfo"
Expect s = "" And TypeName(s) = "String", "getDebugInfo of a new control is """ & s & """"
s = o.getRawData()
ExpectNoError "getRawData"
Expect s = "" And TypeName(s) = "String", "getRawData of a new control is """ & s & """"

' Every setter, called with a variable as a function and as a statement: the result is Empty and
' the variable keeps its value and its type.
Dim setters, i, v, before, kind, r
setters = Array( _
    Array("setDecimals", 2), Array("setEloadPrebits", 1), Array("setEloadbits", 7), _
    Array("setBufferLength", 12), Array("setNewLineSepChar", 0), Array("setEnterkeySepChar", 0), _
    Array("setOtherSepChar", "#"), Array("setIsReservChar", 1), Array("setPortNum", 3), _
    Array("setBandRate", "9600"), Array("setDataBit", 7), Array("setParity", "e"), _
    Array("setStopBit", 2), Array("setWinFontSize", 20), Array("setWinWidth", 2000), _
    Array("setWinHeight", 600), _
    Array("setDecimals", CLng(3)), Array("setPortNum", "4"), Array("setBandRate", 4800), _
    Array("setDecimals", 2.6))
For i = 0 To UBound(setters)
    v = setters(i)(1)
    before = v
    kind = TypeName(v)
    r = CallSetter(setters(i)(0), v, True)
    ExpectNoError setters(i)(0) & "(" & kind & " " & before & ") as a function"
    Expect TypeName(r) = "Empty", setters(i)(0) & " returns " & TypeName(r) & ", want Empty"
    Expect v = before And TypeName(v) = kind, setters(i)(0) & " changed the variable to " & TypeName(v) & " " & v
    CallSetter setters(i)(0), v, False
    ExpectNoError setters(i)(0) & "(" & kind & " " & before & ") as a statement"
    Expect v = before And TypeName(v) = kind, setters(i)(0) & " (statement) changed the variable to " & v
Next

' Arguments that cannot become the parameter's type are refused by number.
Dim bad
bad = "not a number"
o.setDecimals bad
ExpectError 13, "setDecimals with text"
Expect bad = "not a number", "a refused call changed the variable"
bad = 100000
o.setDecimals bad
ExpectError 6, "setDecimals beyond a short"

' Errors of the control come back with its number, description and source.
o.setWinFontSize 0
Expect Err.Source = "Tolvak.Tolvak", "error source is """ & Err.Source & """"
Expect Err.Description = "Invalid property value", "error description is """ & Err.Description & """"
ExpectError 380, "setWinFontSize 0"
' ... and a refused size leaves the earlier one in place, so a good one still works.
o.setWinFontSize 18
ExpectNoError "setWinFontSize 18 after a refused size"

' The computer's identity.
s = o.getLocalHostName()
ExpectNoError "getLocalHostName"
Expect Len(s) > 0, "getLocalHostName is empty"
s = o.GetLocalIPAddress()
ExpectNoError "GetLocalIPAddress"
Dim parts : parts = Split(s, ".")
Expect UBound(parts) = 3, "GetLocalIPAddress """ & s & """ is no dotted IPv4 address"
s = o.getLocalMacAddress()
ExpectNoError "getLocalMacAddress"
Expect TypeName(s) = "String", "getLocalMacAddress returns " & TypeName(s)

' The simulated readings switch on and off without a port.
o.RndStart
ExpectNoError "RndStart"
o.RndEnd
ExpectNoError "RndEnd"

' Members the interface does not have.
o.noSuchMethod
ExpectError 438, "an unknown method"
o.getTolvakValue 1
Expect Err.Number <> 0, "getTolvakValue with an argument succeeds"
Err.Clear

' Two controls are independent.
Dim o2
Set o2 = CreateObject("Tolvak.Tolvak")
ExpectNoError "a second CreateObject"
Expect o2.getTolvakValue() = "8888888", "the second control's display"
Set o2 = Nothing
Set o = Nothing
ExpectNoError "releasing the controls"

WScript.Echo "com_script: " & failures & " failures"
WScript.Quit failures
